#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include <CLI/CLI.hpp>

#include "value.h"

#ifndef VCOMCTL_VERSION
#define VCOMCTL_VERSION "unknown"
#endif

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

#ifdef VCOMCTL_WITH_SIM
constexpr bool kWithSim = true;
#else
constexpr bool kWithSim = false;
#endif

constexpr unsigned int kMaxBus = 255;
// CLI11's own messages may quote what was typed.
constexpr std::size_t kMaxReasonBytes = 200;
// i2c-tools' range of 7-bit addresses a normal device may use.
constexpr unsigned int kFirstAddr7 = 0x03;
constexpr unsigned int kLastAddr7 = 0x77;
constexpr unsigned int kLastAddr8 = 0xEE;
constexpr int kHelpColumn = 24;

const char* const kFooter =
    "Board: the chip and its wiring come from the [VCOM] section of\n"
    "ROOT/obdata/model/config/board.ini; a board file that cannot be read, or lacks\n"
    "[VCOM] or its TypeIdx, is refused. The SoC backend is the one\n"
    "ROOT/etc/zeplatform.conf selects.\n"
    "\n"
    "Values: decimal (128) or hex with 0x (0x80); no sign, no leading zero (no\n"
    "octal). A value the chip cannot hold is refused before anything is sent:\n"
    "{RANGES}\n"
    "A read that the chip routine reports as failed is an error, not the value 0.\n"
    "The commands stop at the first one that fails; a session goes on.\n"
    "save VALUE stores VALUE on every chip. The save of {CURRENT} stores the\n"
    "setting the chip holds, so vcomctl updates to VALUE first (shown with -v and\n"
    "--trace).\n"
    "A save is read back and a difference fails the run.\n"
    "The read of {STORED} returns what a save stored; the read of {UNSTORED} returns\n"
    "the chip's register, so its save is verified against the stored copy.\n"
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

// The chips whose `property` is `value` (all with none), in TypeIdx order.
std::string chipList(bool ChipInfo::*property, bool value)
{
    std::string names;
    for (const ChipInfo& chip : catalogue::kChips) {
        if (property != nullptr && chip.*property != value) continue;
        if (!names.empty()) names += ", ";
        names += chip.name;
    }
    return names;
}

const char* const kDescription =
    "vcomctl: read, set and store the panel's VCOM through the VCOM driver.\n"
    "Brings the driver up as the HAL framework does, applies the commands in\n"
    "order to that one bring-up, and takes the driver down again.\n";

std::string helpFooter()
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

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string chipProblem(const std::string& name)
{
    if (catalogue::byName(name.c_str()) != nullptr) return "";
    return "unknown chip " + quoteText(name) + " (valid: " + chipNames() + ")";
}

std::string parseAddr7(const std::string& text, unsigned int* addr)
{
    if (parseNumber(text, kLastAddr8, addr).empty() && *addr > kLastAddr7 && *addr % 2 == 0) {
        return quoteText(text) + " looks like the 8-bit form of the board file; --addr " +
               "takes the 7-bit address: " + deviceText(*addr);
    }
    std::string why = parseNumber(text, kLastAddr7, addr);
    if (why.empty() && *addr < kFirstAddr7) why = quoteText(text) + " is a reserved address";
    return why.empty() ? why : why + " (7-bit addresses 0x03 to 0x77)";
}

// An option whose text is parsed once, straight into the plan by `take`,
// which returns why the text is refused or "".
template <typename Text>
CLI::Option* addParsed(CLI::App& app, const std::string& name, const std::string& help,
                       std::function<std::string(const std::string&)> take)
{
    return app.add_option_function<Text>(
        name,
        [name, take](const Text& given) {
            for (const std::string& text : std::vector<std::string>{given}) {
                const std::string why = take(text);
                if (!why.empty()) throw CLI::ValidationError(name, why);
            }
        },
        help);
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

// The conflicts CLI11 cannot express, in the order they are told; "" when
// there are none.
std::string conflicts(const Options& o)
{
    const bool simPanel = !o.simChip.empty() || !o.simState.empty();
    const bool calibrates = std::any_of(o.commands.begin(), o.commands.end(),
                                        [](const Command& c) { return c.op == Op::Calibrate; });
    const std::string calibration = calibrates ? calibrateProblem(o.calibrate, simPanel) : "";
    const std::pair<bool, std::string> refusals[] = {
        {o.session && !o.commands.empty(),
         "session takes its commands from stdin, not from the command line"},
        {calibrates && (o.commands.size() > 1 || o.dryRun),
         "calibrate runs alone, on a real or simulated panel (not with --dry-run or other "
         "commands)"},
        {!calibration.empty(), calibration},
        {!o.simChip.empty() && !o.root.empty(),
         "--sim uses a private root and leaves --root alone; use --sim-state DIR to keep the "
         "simulated panel"},
        {!o.simState.empty() && !o.root.empty(),
         "--sim-state DIR is the simulated panel's root; --root cannot name another"},
        {o.dryRun && simPanel,
         "--dry-run simulates the board's chip; it does not combine with --sim or --sim-state"},
        {!o.simFaults.empty() && !simPanel,
         "--sim-fault needs a simulated panel (--sim or --sim-state)"},
        {!kWithSim && (o.simulated() || !o.simFaults.empty() || o.calibrate.meter == kSimMeter),
         "this vcomctl was built without the simulated panel (--sim, --sim-state, --dry-run, "
         "--sim-fault, --meter sim)"},
        {!o.simChip.empty() && o.overrides.chip != nullptr &&
             o.overrides.chip != catalogue::byName(o.simChip.c_str()),
         "--chip and --sim name different chips"},
    };
    for (const auto& [refused, why] : refusals) {
        if (refused) return why;
    }
    return "";
}

// The options of the run as a whole; the trace mode as typed.
void addRunOptions(CLI::App& app, Options& o, std::string& trace)
{
    app.add_flag("--json", o.json,
                 "print one JSON object per run (one per line in a session) on stdout");
    app.add_flag("-q,--value", o.valueOnly, "print only the number for read");
    app.add_flag("-v,--verbose", o.verbose,
                 "show the driver's messages on stderr (levels: $ZE_DEBUG_LEVEL, default info) "
                 "and the full error context");
    app.add_flag("--trace{timeline}", trace,
                 "show the bus traffic of each operation; =i2ctransfer prints it as "
                 "i2ctransfer command lines")
        ->check(CLI::IsMember({"timeline", "i2ctransfer"}));
    app.add_flag_function(
        "--no-verify", [&o](std::int64_t) { o.verify = false; },
        "do not read a save back (a save is read back and a difference fails the run)");
    app.add_flag("-y,--yes", o.assumeYes,
                 "do not ask before an MTP save on hardware (asked when stdin is a terminal)");
}

// The platform root and the simulated panel.
void addBoardOptions(CLI::App& app, Options& o)
{
    app.add_option("-r,--root", o.root,
                   "platform root: where board.ini, zeplatform.conf and the environment store "
                   "are found (default: $ZE_PLATFORM_ROOT or /)")
        ->type_name("DIR")
        ->check([](const std::string& dir) {
            return dir.empty() ? std::string("the root must not be empty") : std::string();
        });
    app.add_option("--sim", o.simChip,
                   "use a simulated panel with this chip (" + chipNames() +
                       ") in a fresh private root, removed on exit")
        ->type_name("CHIP")
        ->transform(CLI::Validator(
            [](std::string& name) {
                const std::string why = chipProblem(name);
                if (why.empty()) name = lower(name);
                return why;
            },
            ""));
    app.add_option("--sim-state", o.simState,
                   "keep the simulated panel (registers, NVM, environment) in DIR across runs: "
                   "a directory vcomctl created, your own and writable by no one else, holding "
                   "no links; each command takes its lock DIR/.lock")
        ->type_name("DIR");
    addParsed<std::vector<std::string>>(
        app, "--sim-fault",
        "inject a fault into the simulated panel, repeatable: write:N, read:N, gpio:N, open:N "
        "(the Nth such call fails with EIO), absent (the chip stops answering), status:BYTE "
        "(every status read of an IN525/IN518 answers BYTE)",
        [&o](const std::string& text) {
            Fault fault;
            const std::string why = parseFault(text, &fault);
            if (why.empty()) o.simFaults.push_back(fault);
            return why;
        })
        ->type_name("FAULT");
    app.add_flag("--dry-run", o.dryRun,
                 "run the commands on a simulated chip of the board's type and print the "
                 "transfers; the bus is not touched");
}

// Board fields replaced for this run only; the file itself is left alone.
void addOverrides(CLI::App& app, Options& o)
{
    addParsed<std::string>(app, "--bus",
                           "I2C bus number instead of the board file's I2cBus, "
                           "for this run only",
                           [&o](const std::string& text) {
                               unsigned int bus = 0;
                               const std::string why = parseNumber(text, kMaxBus, &bus);
                               if (why.empty()) o.overrides.bus = bus;
                               return why;
                           })
        ->type_name("N");
    addParsed<std::string>(app, "--addr",
                           "chip address in 7-bit form, as i2c-tools takes it (0x74 for VcomAddr "
                           "0xE8), for this run only",
                           [&o](const std::string& text) {
                               unsigned int addr = 0;
                               const std::string why = parseAddr7(text, &addr);
                               if (why.empty()) o.overrides.addr7 = addr;
                               return why;
                           })
        ->type_name("ADDR");
    addParsed<std::string>(app, "--chip",
                           "chip instead of the board file's TypeIdx, for this run only",
                           [&o](const std::string& name) {
                               o.overrides.chip = catalogue::byName(name.c_str());
                               return chipProblem(name);
                           })
        ->type_name("CHIP");
}

// Subcommands may repeat; each occurrence appends to the list as soon as it
// is complete, which keeps their order.
CLI::App* addCommand(CLI::App& app, std::vector<Command>& commands, const std::string& name,
                     const std::string& help, Op op)
{
    CLI::App* sub = app.add_subcommand(name, help);
    sub->group("Commands");
    sub->immediate_callback();
    sub->fallthrough();
    sub->callback([&commands, op] { commands.push_back(Command{op, 0, false, ""}); });
    return sub;
}

// A command with one argument, `arg`, checked by `check`.
void addArgumentCommand(CLI::App& app, std::vector<Command>& commands, const std::string& name,
                        const std::string& help, Op op, const std::string& arg,
                        const std::string& argHelp, const CLI::Validator& check)
{
    CLI::App* sub = addCommand(app, commands, name, help, op);
    auto text = std::make_shared<std::string>();
    sub->add_option(arg, *text, argHelp)->required()->type_name("")->check(check);
    sub->callback([&commands, text, op] {
        Command command{op, 0, *text == "on", *text};
        parseValue(*text, &command.value);  // pattern: no value, left 0
        commands.push_back(command);
    });
}

void addCommands(CLI::App& app, Options& o)
{
    std::vector<Command>& commands = o.commands;
    const CLI::Validator value(
        [](std::string& given) {
            std::uint16_t ignored = 0;
            return parseValue(given, &ignored);
        },
        "");
    addCommand(app, commands, "read", "read the chip's VCOM value", Op::Read);
    addArgumentCommand(app, commands, "update", "set VALUE in the chip (not kept over power-off)",
                       Op::Update, "VALUE", "the VCOM value", value);
    addArgumentCommand(app, commands, "save",
                       "store VALUE permanently (MTP, or the environment); on chips whose save "
                       "stores their current setting, an update to VALUE comes first",
                       Op::Save, "VALUE", "the VCOM value", value);
    addArgumentCommand(app, commands, "pattern",
                       "VCOM test pattern on or off (holds free-run at 60 Hz)", Op::Pattern,
                       "STATE", "on or off", CLI::IsMember({"on", "off"}));
    addCommand(app, commands, "config", "show the [VCOM] fields as the driver parsed them",
               Op::Config);
    addCommand(app, commands, "chips", "list the supported chips with TypeIdx and value ranges",
               Op::Chips);
    addCommand(app, commands, "session",
               "read commands from stdin, one per line (64 KiB at most) or JSON Lines, over one "
               "bring-up",
               Op::Read)
        ->callback([&o] { o.session = true; });
    CLI::App* calibrate =
        addCommand(app, commands, "calibrate",
                   "find the VCOM with the least flicker on a meter, then save it", Op::Calibrate);
    addCalibrateOptions(*calibrate, o.calibrate);
}

// The lines a session mostly sends, and command lines of such commands
// alone, taken without building the whole parser; anything else goes
// through it, for its messages.
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

// What the parse ends in when it does not run: help, the version or a refusal.
ParseOutcome notRun(const CLI::App& app, const std::vector<std::string>& args)
{
    ParseOutcome outcome;
    try {
        throw;
    } catch (const CLI::CallForHelp&) {
        outcome.out = app.help();
    } catch (const CLI::CallForAllHelp&) {
        outcome.out = app.help("", CLI::AppFormatMode::All);
    } catch (const CLI::CallForVersion&) {
        outcome.out = std::string(VCOMCTL_VERSION) + "\n";
    } catch (const CLI::ParseError& error) {
        outcome.exitCode = kExitUsage;
        outcome.error = reasonFor(error, args);
    }
    return outcome;
}

}  // namespace

ParseOutcome parseCommandLine(const std::vector<std::string>& args)
{
    ParseOutcome outcome;
    Options& options = outcome.options;
    if (plainCommands(args, &options.commands)) {
        outcome.run = true;
        return outcome;
    }
    CLI::App app(kDescription, "vcomctl");
    app.set_version_flag("--version", VCOMCTL_VERSION);
    app.require_subcommand(1, 0);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND [COMMAND ...]");
    app.get_formatter()->column_width(kHelpColumn);
    std::string trace;
    addBoardOptions(app, options);
    addOverrides(app, options);
    addRunOptions(app, options, trace);
    addCommands(app, options);
    app.footer(helpFooter());  // set last: subcommands would inherit it
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::Error&) {
        return notRun(app, args);
    }
    if (!trace.empty())
        options.trace = trace == "i2ctransfer" ? TraceMode::I2ctransfer : TraceMode::Timeline;
    outcome.error = conflicts(options);
    outcome.exitCode = outcome.error.empty() ? kExitOk : kExitUsage;
    outcome.run = outcome.error.empty();
    return outcome;
}

std::string chipNames()
{
    return chipList(nullptr, true);
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
