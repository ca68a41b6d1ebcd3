#include <string>

#include "command_line.h"
#include "value.h"

namespace vcomctl {

namespace catalogue = ze::ic::catalogue;

std::string chipNames()
{
    std::string names;
    for (const ChipInfo& chip : catalogue::kChips) {
        if (!names.empty()) names += ", ";
        names += chip.name;
    }
    return names;
}

std::string parseFault(const std::string& text, Fault* fault)
{
    static const std::pair<const char*, Fault::Kind> kWords[] = {
        {"write", Fault::Kind::Write},   {"read", Fault::Kind::Read},
        {"gpio", Fault::Kind::Gpio},     {"open", Fault::Kind::Open},
        {"absent", Fault::Kind::Absent}, {"status", Fault::Kind::Status},
    };
    const std::string::size_type colon = text.find(':');
    const std::string word = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    fault->text = text;
    fault->number = 0;
    for (const auto& [name, kind] : kWords) {
        if (word != name) continue;
        fault->kind = kind;
        if (kind == Fault::Kind::Absent) {
            if (colon == std::string::npos) return "";
            break;
        }
        if (kind == Fault::Kind::Status) {
            if (parseNumber(arg, 0xFF, &fault->number).empty()) return "";
            return "fault " + quoteText(text) + ": status:BYTE needs a byte (0 to 0xFF)";
        }
        if (parseNumber(arg, kMaxValue, &fault->number).empty() && fault->number > 0) return "";
        return "fault " + quoteText(text) + ": " + word + ":N needs a call count of 1 or more";
    }
    return "unknown fault " + quoteText(text) +
           " (write:N, read:N, gpio:N, open:N, absent, status:BYTE)";
}

std::string describe(const Command& command)
{
    switch (command.op) {
        case Op::Update:
        case Op::Save:
            return std::string(commandWord(command.op)) + " " + command.valueText;
        case Op::Pattern:
            return command.on ? "pattern on" : "pattern off";
        default:
            return commandWord(command.op);
    }
}

std::string checkRange(const Command& command, const ChipInfo& chip)
{
    if (command.op != Op::Update && command.op != Op::Save) return "";
    const bool update = command.op == Op::Update;
    const unsigned int max = update ? chip.updateMax : chip.saveMax;
    if (command.value <= max) return "";
    return describe(command) + ": out of range for " + chip.name + " (0 to " + std::to_string(max) +
           ": " + (update ? chip.updateNote : chip.saveNote) + ")";
}

}  // namespace vcomctl
