#include "report.h"

#include <cstdio>
#include <cstring>

#include "chips.h"
#include "json.h"
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

void writeFields(JsonWriter& json, const DriverFields& f)
{
    json.beginObject();
    json.key("TypeIdx").number(f.typeIdx);
    json.key("chip");
    if (const ChipInfo* chip = chipByTypeIdx(f.typeIdx)) json.string(chip->name); else json.null();
    json.key("I2cBus").number(f.i2cBus);
    json.key("VcomAddr").number(f.vcomAddr);
    json.key("GpioAddr").number(f.gpioAddr);
    json.key("GpioStatus").number(f.gpioStatus);
    json.key("LdmFlag").number(f.ldmFlag);
    json.key("I2cSwitchType").number(f.i2cSwitchType);
    json.endObject();
}

void writeChips(JsonWriter& json)
{
    json.beginArray();
    for (const ChipInfo& chip : supportedChips()) {
        json.beginObject();
        json.key("TypeIdx").number(chip.typeIdx);
        json.key("name").string(chip.name);
        json.key("update_max").number(chip.updateMax);
        json.key("save_max").number(chip.saveMax);
        json.endObject();
    }
    json.endArray();
}

const char* commandWord(Op op)
{
    switch (op) {
    case Op::Read: return "read";
    case Op::Update: return "update";
    case Op::Save: return "save";
    case Op::Pattern: return "pattern";
    case Op::Config: return "config";
    case Op::Chips: return "chips";
    case Op::Init: return "init";
    }
    return "?";
}

void writeResult(JsonWriter& json, const CommandResult& r)
{
    json.beginObject();
    json.key("command").string(commandWord(r.op));
    json.key("ok").boolean(r.ok);
    switch (r.op) {
    case Op::Read:
        if (r.ok) json.key("value").number(r.value);
        break;
    case Op::Update:
    case Op::Save:
        json.key("value").number(r.value);
        json.key("status").number(r.status);
        break;
    case Op::Init:
        json.key("status").number(r.status);
        break;
    case Op::Pattern:
        json.key("state").string(r.name == "pattern on" ? "on" : "off");
        break;
    case Op::Config:
        if (r.fields) {
            json.key("config");
            writeFields(json, *r.fields);
        }
        break;
    case Op::Chips:
        json.key("chips");
        writeChips(json);
        break;
    }
    if (!r.ok) json.key("error").string(r.error);
    if (r.traced) {
        json.key("trace");
        writeTraceJson(json, r.trace, r.traceOriginUs);
    }
    json.endObject();
}

}  // namespace

std::string chipsTable()
{
    std::string text = "TypeIdx  chip    update   save    range\n";
    for (const ChipInfo& chip : supportedChips()) {
        char line[128];
        const std::string note = std::strcmp(chip.updateNote, chip.saveNote) == 0
                                     ? chip.updateNote
                                     : std::string("update: ") + chip.updateNote +
                                           "; save: " + chip.saveNote;
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
        case Op::Read: text = "read: " + showValue(r.value) + "\n"; break;
        case Op::Update:
        case Op::Save:
        case Op::Pattern:
        case Op::Init: text = r.name + ": ok\n"; break;
        case Op::Config: text = r.fields ? configText(*r.fields) : "config:\n"; break;
        case Op::Chips: text = chipsTable(); break;
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
    JsonWriter json;
    json.beginObject();
    json.key("ok").boolean(report.ok);
    if (!report.ok) json.key("error").string(report.error);
    if (!report.backend.empty()) {
        json.key("backend").string(report.backend);
        json.key("root");
        if (report.root.empty()) json.null(); else json.string(report.root);
    }
    if (report.board) {
        json.key("chip");
        if (const ChipInfo* chip = chipByTypeIdx(report.board->typeIdx)) {
            json.string(chip->name);
        } else {
            json.null();
        }
    }
    if (report.init) {
        json.key("init");
        writeResult(json, *report.init);
    }
    json.key("results").beginArray();
    for (const CommandResult& result : report.results) writeResult(json, result);
    json.endArray();
    json.endObject();
    return json.text() + "\n";
}

}  // namespace vcomctl
