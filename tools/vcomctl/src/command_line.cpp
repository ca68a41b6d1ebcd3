#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "trace.h"
#include "value.h"

#ifndef VCOMCTL_VERSION
#define VCOMCTL_VERSION "unknown"
#endif

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

constexpr unsigned int kMaxBus = 255;
// CLI11's own messages may quote what was typed.
constexpr std::size_t kMaxReasonBytes = 200;
constexpr const char* kOutOfRange = " is out of range ";
// i2c-tools' range of 7-bit addresses a normal device may use.
constexpr unsigned int kFirstAddr7 = 0x03;
constexpr unsigned int kLastAddr7 = 0x77;
constexpr unsigned int kLastAddr8 = 0xEE;

const char* const kDescription =
    "vcomctl: read, set and store the panel's VCOM through the VCOM driver.\n"
    "Brings the driver up as the HAL framework does, applies the commands in\n"
    "order to that one bring-up, and takes the driver down again.\n";

const char* const kFooter =
    "Board: the chip and its wiring come from the [VCOM] section of\n"
    "ROOT/obdata/model/config/board.ini; a board file that cannot be read, or lacks\n"
    "[VCOM] or its TypeIdx, is refused. --bus, --addr and --chip replace a field for\n"
    "this run only. The SoC backend is the one ROOT/etc/zeplatform.conf selects.\n"
    "With --sim CHIP a simulated panel is used in a fresh private root, removed on\n"
    "exit; --sim-state DIR keeps it (registers, NVM, environment) across runs in a\n"
    "directory vcomctl created, your own and writable by no one else, holding no\n"
    "links; each command takes its lock DIR/.lock. --dry-run runs the commands on a simulated chip "
    "of\n"
    "the board's type and prints the transfers; the bus is not touched.\n"
    "\n"
    "Faults (--sim-fault, repeatable): write:N, read:N, gpio:N, open:N (the Nth such\n"
    "call fails with EIO), absent (the chip stops answering), status:BYTE (every\n"
    "status read of an IN525/IN518 answers BYTE).\n"
    "\n"
    "Values: decimal (128) or hex with 0x (0x80); no sign, no leading zero (no\n"
    "octal). A value the chip cannot hold is refused before anything is sent:\n"
    "{RANGES}\n"
    "A read that the chip routine reports as failed is an error, not the value 0.\n"
    "The commands stop at the first one that fails; a session goes on.\n"
    "save VALUE stores VALUE on every chip. The save of {CURRENT} stores the\n"
    "setting the chip holds, so vcomctl updates to VALUE first (shown with -v and\n"
    "--trace).\n"
    "A save is read back and a difference fails the run (--no-verify skips it).\n"
    "The read of {STORED} returns what a save stored; the read of {UNSTORED} returns\n"
    "the chip's register, so its save is verified against the stored copy.\n"
    "An MTP save on hardware asks first unless -y is given or stdin is no terminal.\n"
    "SIGINT, SIGTERM or SIGHUP during a command lets its chip sequence finish, then\n"
    "stops.\n"
    "\n"
    "Exit status: 0 success; 1 the bring-up, a command or a save's verification\n"
    "failed; 2 the command line was refused and nothing was done (unlike i2cget,\n"
    "where 2 is a failed read); 128+N stopped by signal N (129 SIGHUP,\n"
    "130 SIGINT, 143 SIGTERM).\n"
    "\n"
    "Examples:\n"
    "  vcomctl read\n"
    "  vcomctl -q read\n"
    "  vcomctl --sim auo read update 0x80 read save 0x80\n"
    "  vcomctl --json update 128 save 128\n"
    "  vcomctl --sim in525 --trace=i2ctransfer save 0x5A\n"
    "  printf 'update 120\\nread\\n' | vcomctl --sim rt6966 session\n"
    "  vcomctl --sim-state /tmp/panel --sim in518 save 0x70\n"
    "  vcomctl calibrate --sim in525 --meter sim --log line.jsonl\n"
    "  vcomctl calibrate --meter-cmd 'probe --once' --state line.json\n"
    "  vcomctl plot line.jsonl --panel SN123 -o SN123.svg\n"
    "  vcomctl line-report line.jsonl -o shift.html\n"
    "(vcomctl calibrate --help lists the calibration options; plot and line-report\n"
    "stand alone, without a bring-up: vcomctl plot --help.)";

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string chipList(bool ChipInfo::*property, bool value)
{
    std::string names;
    for (const ChipInfo& chip : catalogue::kChips) {
        if (chip.*property != value) continue;
        if (!names.empty()) names += ", ";
        names += chip.name;
    }
    return names;
}

std::string footer()
{
    std::string text = kFooter;
    const auto fill = [&text](const std::string& field, const std::string& value) {
        text.replace(text.find(field), field.size(), value);
    };
    fill("{STORED}", chipList(&ChipInfo::readShowsStored, true));
    fill("{UNSTORED}", chipList(&ChipInfo::readShowsStored, false));
    fill("{CURRENT}", chipList(&ChipInfo::saveStoresCurrent, true));
    std::string ranges;
    for (const ChipInfo& chip : catalogue::kChips) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-7s update 0-%-4u save 0-%-4u %s\n", chip.name,
                      unsigned{chip.updateMax}, unsigned{chip.saveMax}, chip.updateNote);
        ranges += line;
    }
    fill("{RANGES}", ranges);
    return text;
}

// A number in decimal or 0x hex up to `max`; "" or why not.
std::string parseNumber(const std::string& text, unsigned int max, unsigned int* out)
{
    std::uint16_t value = 0;
    std::string why = parseValue(text, &value);
    // One limit, whether the number exceeds it or even the value type.
    if ((why.empty() && value > max) || why.find(kOutOfRange) != std::string::npos)
        why = quoteText(text) + kOutOfRange + "(0 to " + std::to_string(max) + ")";
    if (why.empty()) *out = value;
    return why;
}

CLI::Validator valueValidator()
{
    return CLI::Validator(
        [](std::string& text) {
            std::uint16_t ignored = 0;
            return parseValue(text, &ignored);
        },
        "");
}

CLI::Validator chipValidator()
{
    return CLI::Validator(
        [](std::string& name) {
            if (catalogue::byName(name.c_str()) != nullptr) return std::string();
            return "unknown chip " + quoteText(name) + " (valid: " + chipNames() + ")";
        },
        "");
}

CLI::Validator faultValidator()
{
    return CLI::Validator(
        [](std::string& text) {
            Fault fault;
            return parseFault(text, &fault);
        },
        "");
}

const char* const kCommandList =
    "(commands: read, update VALUE, save VALUE, pattern on|off, config, chips, session, "
    "calibrate, plot, line-report)";

// The first word that is neither an option nor an option's value: what the
// user meant as a command.
std::string firstWord(const std::vector<std::string>& args)
{
    static const std::vector<std::string> withValue = {
        "-r", "--root", "--sim", "--sim-state", "--sim-fault", "--bus", "--addr", "--chip"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (std::find(withValue.begin(), withValue.end(), arg) != withValue.end()) {
            ++i;
        } else if (arg.empty() || arg[0] != '-') {
            return arg;
        }
    }
    return "";
}

// One-line reasons in the tool's words for CLI11's most common refusals.
std::string reasonFor(const CLI::ParseError& error, const std::vector<std::string>& args)
{
    const std::string what = error.what();
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::ExtrasError)) {
        const std::string::size_type colon = what.rfind(": ");
        const std::string extras = colon == std::string::npos ? what : what.substr(colon + 2);
        return "unexpected " + quoteText(extras) + " " + kCommandList;
    }
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::RequiredError) &&
        what.find("subcommand") != std::string::npos) {
        const std::string word = firstWord(args);
        if (!word.empty()) return "unknown command " + quoteText(word) + " " + kCommandList;
        return std::string("no command given ") + kCommandList;
    }
    std::string line = what.substr(0, kMaxReasonBytes);
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

// The conflicts CLI11 cannot express; "" when there are none.
std::string conflicts(const Options& options)
{
    if (options.session && options.commands.size() > 1) {
        return "session takes its commands from stdin, not from the command line";
    }
    const bool calibrates = std::any_of(options.commands.begin(), options.commands.end(),
                                        [](const Command& c) { return c.op == Op::Calibrate; });
    if (calibrates && (options.commands.size() > 1 || options.dryRun)) {
        return "calibrate runs alone, on a real or simulated panel (not with --dry-run or other "
               "commands)";
    }
    if (calibrates) {
        const std::string why = calibrateProblem(
            options.calibrate, !options.simChip.empty() || !options.simState.empty());
        if (!why.empty()) return why;
    }
    if (!options.simChip.empty() && !options.root.empty()) {
        return "--sim uses a private root and leaves --root alone; use --sim-state DIR to keep "
               "the simulated panel";
    }
    if (!options.simState.empty() && !options.root.empty()) {
        return "--sim-state DIR is the simulated panel's root; --root cannot name another";
    }
    if (options.dryRun && (!options.simChip.empty() || !options.simState.empty())) {
        return "--dry-run simulates the board's chip; it does not combine with --sim or "
               "--sim-state";
    }
    if (!options.simFaults.empty() && options.simChip.empty() && options.simState.empty()) {
        return "--sim-fault needs a simulated panel (--sim or --sim-state)";
    }
    if (!options.simChip.empty() && options.overrides.chip != nullptr &&
        options.overrides.chip != catalogue::byName(options.simChip.c_str())) {
        return "--chip and --sim name different chips";
    }
    return "";
}

// The lines a session mostly sends, taken without building the whole
// command-line parser for each; anything else goes through it, for its
// messages.
bool plainCommands(const std::vector<std::string>& words, std::vector<Command>* commands)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::string* const argument = i + 1 < words.size() ? &words[i + 1] : nullptr;
        Command command;
        if (word == "read" || word == "config") {
            command.op = word == "read" ? Op::Read : Op::Config;
        } else if ((word == "update" || word == "save") && argument != nullptr &&
                   parseValue(*argument, &command.value).empty()) {
            command.op = word == "update" ? Op::Update : Op::Save;
            command.valueText = *argument;
            ++i;
        } else if (word == "pattern" && argument != nullptr &&
                   (*argument == "on" || *argument == "off")) {
            command.op = Op::Pattern;
            command.on = *argument == "on";
            ++i;
        } else {
            commands->clear();
            return false;
        }
        commands->push_back(command);
    }
    return !commands->empty();
}

}  // namespace

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
        case Op::Calibrate:
            return "calibrate";
        case Op::Init:
            return "init";
    }
    return "?";
}

bool needsDriver(const Command& command)
{
    return command.op != Op::Chips;
}

ParseOutcome parseCommandLine(const std::vector<std::string>& args)
{
    ParseOutcome outcome;
    Options& options = outcome.options;

    CLI::App app(kDescription, "vcomctl");
    app.set_version_flag("--version", VCOMCTL_VERSION);
    app.require_subcommand(1, 0);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND [COMMAND ...]");
    app.get_formatter()->column_width(24);

    app.add_option("-r,--root", options.root,
                   "platform root: where board.ini, zeplatform.conf and the environment store "
                   "are found (default: $ZE_PLATFORM_ROOT or /)")
        ->type_name("DIR")
        ->check([](const std::string& dir) {
            return dir.empty() ? std::string("the root must not be empty") : std::string();
        });
    app.add_option("--sim", options.simChip,
                   "use a simulated panel with this chip (" + chipNames() + ")")
        ->type_name("CHIP")
        ->check(chipValidator());
    app.add_option("--sim-state", options.simState,
                   "keep the simulated panel in DIR across runs (created by vcomctl)")
        ->type_name("DIR");
    app.add_option("--sim-fault", options.simFaults, "inject a fault into the simulated panel")
        ->type_name("FAULT")
        ->check(faultValidator());
    app.add_flag("--dry-run", options.dryRun,
                 "run on a simulated chip of the board's type and show the transfers");
    std::string busText, addrText, chipText;
    app.add_option("--bus", busText, "I2C bus number instead of the board file's I2cBus")
        ->type_name("N")
        ->check([](const std::string& text) {
            unsigned int ignored = 0;
            return parseNumber(text, kMaxBus, &ignored);
        });
    app.add_option("--addr", addrText,
                   "chip address in 7-bit form, as i2c-tools takes it (0x74 for VcomAddr 0xE8)")
        ->type_name("ADDR")
        ->check([](const std::string& text) {
            unsigned int addr = 0;
            if (parseNumber(text, kLastAddr8, &addr).empty() && addr > kLastAddr7 &&
                addr % 2 == 0) {
                return quoteText(text) + " looks like the 8-bit form of the board file; --addr " +
                       "takes the 7-bit address: " + deviceText(addr);
            }
            std::string why = parseNumber(text, kLastAddr7, &addr);
            if (why.empty() && addr < kFirstAddr7) why = quoteText(text) + " is a reserved address";
            return why.empty() ? why : why + " (7-bit addresses 0x03 to 0x77)";
        });
    app.add_option("--chip", chipText, "chip instead of the board file's TypeIdx")
        ->type_name("CHIP")
        ->check(chipValidator());
    app.add_flag("--json", options.json,
                 "print one JSON object per run (one per line in a session) on stdout");
    app.add_flag("-q,--value", options.valueOnly, "print only the number for read");
    app.add_flag("-v,--verbose", options.verbose,
                 "show the driver's messages on stderr (levels: $ZE_DEBUG_LEVEL, default info) "
                 "and the full error context");
    std::string traceText;
    app.add_flag("--trace{timeline}", traceText,
                 "show the bus traffic of each operation; =i2ctransfer prints it as "
                 "i2ctransfer command lines")
        ->check(CLI::IsMember({"timeline", "i2ctransfer"}));
    bool noVerify = false;
    app.add_flag("--no-verify", noVerify, "do not read a save back");
    app.add_flag("-y,--yes", options.assumeYes, "do not ask before an MTP save on hardware");

    // Subcommands may repeat; each occurrence appends to the list as soon as
    // it is complete, which keeps their order.
    std::vector<Command>& commands = options.commands;
    auto addCommand = [&app, &commands](const std::string& name, const std::string& help, Op op) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->group("Commands");
        sub->immediate_callback();
        sub->fallthrough();
        sub->callback([&commands, op] { commands.push_back(Command{op, 0, false, ""}); });
        return sub;
    };
    std::string updateText, saveText, patternText;
    auto addValueCommand = [&](const std::string& name, const std::string& help, Op op,
                               std::string& text) {
        CLI::App* sub = addCommand(name, help, op);
        sub->add_option("VALUE", text, "the VCOM value")
            ->required()
            ->type_name("")
            ->check(valueValidator());
        sub->callback([&commands, &text, op] {
            Command command{op, 0, false, text};
            parseValue(text, &command.value);
            commands.push_back(command);
        });
    };

    addCommand("read", "read the chip's VCOM value", Op::Read);
    addValueCommand("update", "set VALUE in the chip (not kept over power-off)", Op::Update,
                    updateText);
    addValueCommand("save",
                    "store VALUE permanently (MTP, or the environment); on chips whose save "
                    "stores their current setting, an update to VALUE comes first",
                    Op::Save, saveText);
    CLI::App* pattern =
        addCommand("pattern", "VCOM test pattern on or off (holds free-run at 60 Hz)", Op::Pattern);
    pattern->add_option("STATE", patternText, "on or off")
        ->required()
        ->type_name("")
        ->check(CLI::IsMember({"on", "off"}));
    pattern->callback([&commands, &patternText] {
        commands.push_back(Command{Op::Pattern, 0, patternText == "on", ""});
    });
    addCommand("config", "show the [VCOM] fields as the driver parsed them", Op::Config);
    addCommand("chips", "list the supported chips with TypeIdx and value ranges", Op::Chips);
    addCommand(
        "session",
        "read commands from stdin, one per line (64 KiB at most) or JSON Lines, over one bring-up",
        Op::Read)
        ->callback([&options] {
            options.session = true;
            options.commands.push_back(Command{Op::Read, 0, false, "session"});
        });

    CLI::App* calibrate =
        addCommand("calibrate", "find the VCOM with the least flicker on a meter, then save it",
                   Op::Calibrate);
    addCalibrateOptions(*calibrate, options.calibrate);

    // Set last: subcommands would inherit it.
    app.footer(footer());

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        outcome.out = app.help();
        return outcome;
    } catch (const CLI::CallForAllHelp&) {
        outcome.out = app.help("", CLI::AppFormatMode::All);
        return outcome;
    } catch (const CLI::CallForVersion&) {
        outcome.out = std::string(VCOMCTL_VERSION) + "\n";
        return outcome;
    } catch (const CLI::ParseError& error) {
        outcome.exitCode = kExitUsage;
        outcome.error = reasonFor(error, args);
        return outcome;
    }
    options.simChip = lower(options.simChip);
    options.verify = !noVerify;
    if (!traceText.empty()) {
        options.trace = traceText == "i2ctransfer" ? TraceMode::I2ctransfer : TraceMode::Timeline;
    }
    unsigned int number = 0;
    if (!busText.empty() && parseNumber(busText, kMaxBus, &number).empty()) {
        options.overrides.bus = number;
    }
    if (!addrText.empty() && parseNumber(addrText, kLastAddr7, &number).empty()) {
        options.overrides.addr7 = number;
    }
    if (!chipText.empty()) options.overrides.chip = catalogue::byName(chipText.c_str());
    outcome.error = conflicts(options);
    if (options.session) options.commands.clear();
    if (!outcome.error.empty()) {
        outcome.exitCode = kExitUsage;
        return outcome;
    }
    outcome.run = true;
    return outcome;
}

LineRead readSessionLine(std::istream& in, std::string* line)
{
    line->clear();
    std::streambuf* const buffer = in.rdbuf();
    bool tooLong = false;
    for (;;) {
        const int c = buffer != nullptr ? buffer->sbumpc() : std::char_traits<char>::eof();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            if (line->empty() && !tooLong) return LineRead::End;
            break;
        }
        if (c == '\n') break;
        if (line->size() < kMaxSessionLine) {
            line->push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
    return tooLong ? LineRead::TooLong : LineRead::Line;
}

ParseOutcome parseSessionLine(const std::string& line)
{
    using Json = nlohmann::json;
    ParseOutcome refused;
    refused.exitCode = kExitUsage;
    std::vector<std::string> words;
    const std::string::size_type start = line.find_first_not_of(" \t\r");
    if (start != std::string::npos && line[start] == '{') {
        // A nested value is dropped while it is parsed, never built: its
        // depth is the sender's to choose.
        bool nested = false;
        const Json::parser_callback_t scalarsOnly = [&nested](int depth, Json::parse_event_t event,
                                                              Json&) {
            const bool opens = event == Json::parse_event_t::object_start ||
                               event == Json::parse_event_t::array_start;
            if (depth > 0 && opens) nested = true;
            return !nested;
        };
        const Json object = Json::parse(line, scalarsOnly, false);
        const auto field = object.is_object() ? object.find("command") : object.end();
        if (nested) {
            refused.error = "a JSON line holds strings and numbers only, no objects or arrays";
            return refused;
        }
        if (!object.is_object() || field == object.end() || !field->is_string()) {
            refused.error =
                "a JSON line needs {\"command\": NAME} and, for update, save and "
                "pattern, \"value\"";
            return refused;
        }
        words.push_back(field->get<std::string>());
        const auto value = object.find("value");
        if (value != object.end()) {
            words.push_back(value->is_string()
                                ? value->get<std::string>()
                                : value->dump(-1, ' ', false, Json::error_handler_t::replace));
        }
    } else {
        std::istringstream in(line);
        for (std::string word; in >> word;) words.push_back(word);
    }
    for (const std::string& word : words) {
        if (word.empty() || word[0] != '-') continue;
        refused.error =
            quoteText(word) + ": options go on vcomctl's command line, not into a session";
        return refused;
    }
    ParseOutcome outcome;
    if (plainCommands(words, &outcome.options.commands)) {
        outcome.run = true;
        return outcome;
    }
    outcome = parseCommandLine(words);
    const bool calibrates = outcome.run && !outcome.options.commands.empty() &&
                            outcome.options.commands.front().op == Op::Calibrate;
    if (outcome.run && (outcome.options.session || calibrates)) {
        outcome.run = false;
        outcome.exitCode = kExitUsage;
        outcome.error = calibrates ? "calibrate runs on vcomctl's command line, not in a session"
                                   : "a session cannot start another";
    }
    return outcome;
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
