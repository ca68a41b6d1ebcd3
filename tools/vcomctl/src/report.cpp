#include "report.h"

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "chips.h"
#include "value.h"

namespace vcomctl {
namespace {

std::string chipLabel(int typeIdx)
{
    const ChipInfo* chip = chipByTypeIdx(typeIdx);
    return chip != nullptr ? chip->name : "not supported";
}

std::string field(const char* name, const std::string& value)
{
    char text[96];
    std::snprintf(text, sizeof text, "  %-14s %s\n", name, value.c_str());
    return text;
}

std::string hex(unsigned int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string configText(const DriverFields& f)
{
    return "config:\n" +
           field("TypeIdx", std::to_string(f.typeIdx) + " (" + chipLabel(f.typeIdx) + ")") +
           field("I2cBus", std::to_string(f.i2cBus)) + field("VcomAddr", hex(f.vcomAddr)) +
           field("GpioAddr", std::to_string(f.gpioAddr) + " (" + hex(f.gpioAddr) + ")") +
           field("GpioStatus", std::to_string(f.gpioStatus)) +
           field("LdmFlag", std::to_string(f.ldmFlag)) +
           field("I2cSwitchType", std::to_string(f.i2cSwitchType));
}

using Json = nlohmann::ordered_json;

Json fieldsJson(const DriverFields& f)
{
    const ChipInfo* chip = chipByTypeIdx(f.typeIdx);
    return Json{{"TypeIdx", f.typeIdx},   {"chip", chip != nullptr ? Json(chip->name) : Json()},
                {"I2cBus", f.i2cBus},     {"VcomAddr", f.vcomAddr},
                {"GpioAddr", f.gpioAddr}, {"GpioStatus", f.gpioStatus},
                {"LdmFlag", f.ldmFlag},   {"I2cSwitchType", f.i2cSwitchType}};
}

Json chipsJson()
{
    Json out = Json::array();
    for (const ChipInfo& chip : supportedChips()) {
        out.push_back({{"TypeIdx", chip.typeIdx},
                       {"name", chip.name},
                       {"update_max", chip.updateMax},
                       {"save_max", chip.saveMax}});
    }
    return out;
}

const char* commandWord(Op op)
{
    switch (op) {
        case Op::Read:
            return "read";
        case Op::Update:
            return "update";
        case Op::Save:
            return "save";
        case Op::Pattern:
            return "pattern";
        case Op::Config:
            return "config";
        case Op::Chips:
            return "chips";
        case Op::Init:
            return "init";
    }
    return "?";
}

Json resultJson(const CommandResult& r)
{
    Json out{{"command", commandWord(r.op)}, {"ok", r.ok}};
    switch (r.op) {
        case Op::Read:
            if (r.ok) out["value"] = r.value;
            break;
        case Op::Update:
        case Op::Save:
            out["value"] = r.value;
            out["status"] = r.status;
            break;
        case Op::Init:
            out["status"] = r.status;
            break;
        case Op::Pattern:
            out["state"] = r.name == "pattern on" ? "on" : "off";
            break;
        case Op::Config:
            if (r.fields) out["config"] = fieldsJson(*r.fields);
            break;
        case Op::Chips:
            out["chips"] = chipsJson();
            break;
    }
    if (!r.ok) out["error"] = r.error;
    if (r.traced) out["trace"] = traceJson(r.trace, r.traceOriginUs);
    return out;
}

}  // namespace

std::string chipsTable()
{
    std::string text = "TypeIdx  chip    update   save    range\n";
    for (const ChipInfo& chip : supportedChips()) {
        char line[128];
        const std::string note =
            std::strcmp(chip.updateNote, chip.saveNote) == 0
                ? chip.updateNote
                : std::string("update: ") + chip.updateNote + "; save: " + chip.saveNote;
        std::snprintf(line, sizeof line, "%7d  %-7s 0-%-6u 0-%-5u %s\n", chip.typeIdx, chip.name,
                      unsigned{chip.updateMax}, unsigned{chip.saveMax}, note.c_str());
        text += line;
    }
    return text;
}

std::string plainResult(const CommandResult& r)
{
    std::string text;
    if (!r.ok) {
        if (!r.traced) return "";
        text = r.name + ": failed\n";
    } else {
        switch (r.op) {
            case Op::Read:
                text = "read: " + showValue(r.value) + "\n";
                break;
            case Op::Update:
            case Op::Save:
            case Op::Pattern:
            case Op::Init:
                text = r.name + ": ok\n";
                break;
            case Op::Config:
                text = r.fields ? configText(*r.fields) : "config:\n";
                break;
            case Op::Chips:
                text = chipsTable();
                break;
        }
    }
    if (r.traced) {
        for (const TraceEntry& entry : r.trace) {
            text += "  " + formatTraceLine(entry, r.traceOriginUs) + "\n";
        }
    }
    return text;
}

std::string jsonReport(const RunReport& report)
{
    Json out{{"ok", report.ok}};
    if (!report.ok) out["error"] = report.error;
    if (!report.backend.empty()) {
        out["backend"] = report.backend;
        out["root"] = report.root.empty() ? Json() : Json(report.root);
    }
    if (report.board) {
        const ChipInfo* chip = chipByTypeIdx(report.board->typeIdx);
        out["chip"] = chip != nullptr ? Json(chip->name) : Json();
    }
    if (report.init) out["init"] = resultJson(*report.init);
    Json results = Json::array();
    for (const CommandResult& result : report.results) results.push_back(resultJson(result));
    out["results"] = std::move(results);
    // Texts the tool did not write itself (paths, driver messages) may not be UTF-8.
    return out.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace vcomctl
