#include "report.h"

#include <cstdio>
#include <cstring>

#include <ze/vcomcal/report.h>
#include <nlohmann/json.hpp>

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;
using Json = nlohmann::ordered_json;
using ChipInfo = catalogue::ChipInfo;

// "128 (0x80)"
std::string showValue(unsigned int value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u (0x%02X)", value, value);
    return text;
}

std::string chipLabel(int typeIdx)
{
    const ChipInfo* chip = catalogue::byTypeIdx(typeIdx);
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

std::string configText(const BoardConfig& f)
{
    return "config:\n" +
           field("TypeIdx", std::to_string(f.typeIdx) + " (" + chipLabel(f.typeIdx) + ")") +
           field("I2cBus", std::to_string(f.i2cBus)) +
           field("VcomAddr", hex(f.vcomAddr) + " (7-bit " + hex(f.vcomAddr >> 1) + ")") +
           field("GpioAddr", std::to_string(f.gpioAddr) + " (" + hex(f.gpioAddr) + ")") +
           field("GpioStatus", std::to_string(f.gpioStatus)) +
           field("LdmFlag", std::to_string(f.ldmFlag)) +
           field("I2cSwitchType", std::to_string(f.i2cSwitchType));
}

Json nullable(const std::string& text)
{
    return text.empty() ? Json() : Json(text);
}

template <typename T>
Json nullable(const std::optional<T>& value)
{
    return value ? Json(*value) : Json();
}

Json fieldsJson(const BoardConfig& f)
{
    const ChipInfo* chip = catalogue::byTypeIdx(f.typeIdx);
    return Json{{"type_idx", f.typeIdx},
                {"chip", chip != nullptr ? Json(chip->name) : Json()},
                {"i2c_bus", f.i2cBus},
                {"vcom_addr", f.vcomAddr >> 1},
                {"vcom_addr_8bit", f.vcomAddr},
                {"gpio_addr", f.gpioAddr},
                {"gpio_status", f.gpioStatus},
                {"ldm_flag", f.ldmFlag},
                {"i2c_switch_type", f.i2cSwitchType}};
}

Json chipsJson()
{
    Json out = Json::array();
    for (const ChipInfo& chip : catalogue::kChips) {
        out.push_back({{"type_idx", chip.typeIdx},
                       {"name", chip.name},
                       {"update_max", chip.updateMax},
                       {"save_max", chip.saveMax},
                       {"read_shows_stored", chip.readShowsStored},
                       {"save_stores_current", chip.saveStoresCurrent}});
    }
    return out;
}

Json resultJson(const CommandResult& r, bool traced)
{
    Json data;
    if (r.fields) data = fieldsJson(*r.fields);
    if (r.op == Op::Chips) data = chipsJson();
    if (r.calibration) data = Json(ze::vcomcal::toJson(*r.calibration));
    return Json{{"command", commandWord(r.op)},
                {"ok", r.ok},
                {"value", nullable(r.value)},
                {"status", nullable(r.status)},
                {"read_back", nullable(r.readBack)},
                {"data", data},
                {"error", nullable(r.ok ? std::string() : r.error)},
                {"trace", traced ? traceJson(r.trace) : Json()}};
}

// Texts the tool did not write itself (paths, driver messages) may not be UTF-8.
std::string dump(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string chipsTable()
{
    std::string text =
        "TypeIdx  chip    update   save    read after save  save stores      range\n";
    for (const ChipInfo& chip : catalogue::kChips) {
        char line[256];
        const std::string note =
            std::strcmp(chip.updateNote, chip.saveNote) == 0
                ? chip.updateNote
                : std::string("update: ") + chip.updateNote + "; save: " + chip.saveNote;
        std::snprintf(line, sizeof line, "%7d  %-7s 0-%-6u 0-%-5u %-16s %-16s %s\n", chip.typeIdx,
                      chip.name, unsigned{chip.updateMax}, unsigned{chip.saveMax},
                      chip.readShowsStored ? "stored value" : "register only",
                      chip.saveStoresCurrent ? "current setting" : "value given", note.c_str());
        text += line;
    }
    return text;
}

// The text of one result, each line ending in '\n'. A failed command shows
// only its trace (its reason goes to stderr).
std::string plainResult(const CommandResult& r, const ReportStyle& style)
{
    std::string text;
    if (r.calibration) {
        text = ze::vcomcal::summary(*r.calibration);
    } else if (!r.ok) {
        if (style.trace == TraceMode::Off) return "";
        text = r.name + ": failed\n";
    } else {
        switch (r.op) {
            case Op::Read:
                text = style.valueOnly ? std::to_string(r.value.value_or(0)) + "\n"
                                       : "read: " + showValue(r.value.value_or(0)) + "\n";
                break;
            case Op::Update:
            case Op::Save:
            case Op::Pattern:
            case Op::Init:
                if (!style.valueOnly) text = r.name + ": ok\n";
                break;
            case Op::Config:
                text = r.fields ? configText(*r.fields) : "config:\n";
                break;
            case Op::Chips:
                text = chipsTable();
                break;
            case Op::Calibrate:
                break;
        }
    }
    return text + traceText(r.trace, style.trace == TraceMode::I2ctransfer);
}

// The report in `text`: a --json result's first entry, or a --log line (the
// first one, or the panel's latest).
std::string findReport(std::istream& in, const std::string& panel, nlohmann::json* report)
{
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object()) {
            if (!any && json.is_discarded()) return "holds no JSON report";
            continue;
        }
        any = true;
        if (const auto results = json.find("results"); results != json.end()) {
            if (!results->is_array() || results->empty() || !(*results)[0].is_object() ||
                !(*results)[0].contains("data") || !(*results)[0]["data"].is_object()) {
                return "is a vcomctl result without a calibration report";
            }
            json = (*results)[0]["data"];
        }
        const auto id = json.find("panel");
        const bool wanted = panel.empty() || (id != json.end() && *id == panel);
        if (wanted) *report = std::move(json);
        if (wanted && panel.empty()) return "";
    }
    if (!report->is_null()) return "";
    return panel.empty() ? "holds no report" : "holds no report of panel " + panel;
}

}  // namespace

const char* commandWord(Op op)
{
    static const char* const kWords[] = {"read",   "update", "save",      "pattern",
                                         "config", "chips",  "calibrate", "init"};
    return kWords[static_cast<int>(op)];
}

void Reporter::openObject()
{
    if (opened_) return;
    std::string text = dump(Json{{"schema", kSchema},
                                 {"backend", nullable(context_.backend)},
                                 {"root", nullable(context_.root)},
                                 {"chip", nullable(context_.chip)}});
    text.pop_back();  // the object goes on
    out_ << text << ",\"init\":" << initJson_ << ",\"results\":[";
    opened_ = true;
    first_ = true;
}

void Reporter::init(const CommandResult& result)
{
    const bool traced = style_.trace != TraceMode::Off;
    if (!style_.json) {
        if (traced) out_ << plainResult(result, style_);
        return;
    }
    initJson_ = dump(resultJson(result, traced));
    if (style_.session) {
        refused(result.ok ? kExitOk : kExitFailed, result.ok ? "" : result.error);
        initJson_ = "null";
    }
}

void Reporter::result(const CommandResult& result)
{
    if (!style_.json) {
        out_ << plainResult(result, style_) << std::flush;
        return;
    }
    openObject();
    out_ << (first_ ? "" : ",") << dump(resultJson(result, style_.trace != TraceMode::Off));
    first_ = false;
    if (style_.session) refused(result.ok ? kExitOk : kExitFailed, result.ok ? "" : result.error);
    out_.flush();
}

void Reporter::refused(int exitCode, const std::string& error)
{
    if (!style_.json) return;
    openObject();
    const Json end{{"ok", exitCode == kExitOk}, {"exit", exitCode}, {"error", nullable(error)}};
    out_ << "]," << dump(end).substr(1) << "\n" << std::flush;
    opened_ = false;
    printed_ = true;
}

void Reporter::finish(int exitCode, const std::string& error)
{
    if (!style_.session || !printed_) refused(exitCode, error);
}

std::string panelPicture(std::istream& in, const std::string& panel, std::string* svg)
{
    nlohmann::json report;
    const std::string why = findReport(in, panel, &report);
    if (why.empty()) *svg = ze::vcomplot::panelSvg(report);
    return why;
}

std::string calibrationLogLine(const ze::vcomcal::CalibrationReport& report)
{
    return ze::vcomcal::logEntry(report).dump(-1, ' ', false,
                                              nlohmann::json::error_handler_t::replace) +
           "\n";
}

std::string calibrationPicture(const ze::vcomcal::CalibrationReport& report)
{
    return ze::vcomplot::panelSvg(ze::vcomcal::logEntry(report));
}

}  // namespace vcomctl
