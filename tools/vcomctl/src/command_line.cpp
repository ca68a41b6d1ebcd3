#include "command_line.h"

#include <algorithm>
#include <cctype>

#include <CLI/CLI.hpp>

#include "value.h"

#ifndef VCOMCTL_VERSION
#define VCOMCTL_VERSION "unknown"
#endif

namespace vcomctl {
namespace {

const char* const kDescription =
    "vcomctl: read, set and store the panel's VCOM through the VCOM driver.\n"
    "Brings the driver up as the HAL framework does, applies the commands in\n"
    "order to that one bring-up, and takes the driver down again.\n";

const char* const kValueRules =
    "Values: decimal (128) or hex with 0x (0x80); no sign, no leading zero (no\n"
    "octal). Each chip takes what it can hold, and a larger value is refused before\n"
    "anything is sent (see `vcomctl chips`):\n"
    "  update and save   0-255   auo in518 boe in525 kd733 kd532p\n"
    "  update            0-653   rt6966 (its 10-bit code is value + 370)\n"
    "  save              0-255   rt6966 (the copy kept in the U-Boot environment)\n"
    "  update and save   0-127   g1625 (7-bit setting; 128 would act as 0)";

const char* const kFooter =
    "Board: the chip and its wiring come from the [VCOM] section of\n"
    "ROOT/obdata/model/config/board.ini. With --sim CHIP a simulated panel of that\n"
    "chip is used, with a board file and an environment store written under a fresh\n"
    "temporary root (or under --root). Without --sim the hardware backend is used\n"
    "when ROOT/etc/zeplatform.conf selects it, and otherwise a simulated panel of\n"
    "the chip the board file names.\n"
    "\n"
    "A read that the chip routine reports as failed is an error, not the value 0.\n"
    "The commands stop at the first one that fails.\n"
    "\n"
    "Exit status: 0 success; 1 the bring-up or a command failed; 2 the command line\n"
    "was refused and nothing was done.\n"
    "\n"
    "Examples:\n"
    "  vcomctl read\n"
    "  vcomctl --sim auo read update 0x80 read save 0x80\n"
    "  vcomctl --json update 128 save 128\n"
    "  vcomctl --sim in525 --trace save 0x5A\n"
    "  vcomctl -r /mnt/board config";

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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
            if (chipByName(name) != nullptr) return std::string();
            return "unknown chip '" + name + "' (valid: " + chipNames() + ")";
        },
        "");
}

const char* const kCommandList =
    "(commands: read, update VALUE, save VALUE, pattern on|off, config, chips)";

// The first word that is neither an option nor an option's value: what the
// user meant as a command.
std::string firstWord(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-r" || arg == "--root" || arg == "--sim") {
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
        return "unexpected '" + extras + "' " + kCommandList;
    }
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::RequiredError) &&
        what.find("subcommand") != std::string::npos) {
        const std::string word = firstWord(args);
        if (!word.empty()) return "unknown command '" + word + "' " + kCommandList;
        return std::string("no command given ") + kCommandList;
    }
    std::string line = what;
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

}  // namespace

std::string describe(const Command& command)
{
    switch (command.op) {
    case Op::Read: return "read";
    case Op::Update: return "update " + command.valueText;
    case Op::Save: return "save " + command.valueText;
    case Op::Pattern: return command.on ? "pattern on" : "pattern off";
    case Op::Config: return "config";
    case Op::Chips: return "chips";
    case Op::Init: return "init";
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
    app.add_flag("--json", options.json,
                 "print one JSON object with every command's result on stdout (a refused "
                 "command line prints none)");
    app.add_flag("-v,--verbose", options.verbose,
                 "show the driver's info messages on stderr (default: errors only)");
    app.add_flag("--trace", options.trace,
                 "show the bus traffic of each operation: time, direction, device, register, "
                 "bytes, status");

    // Subcommands may repeat; each occurrence appends to the list as soon as
    // it is complete, which keeps their order.
    std::vector<Command>& commands = options.commands;
    auto addCommand = [&app](const std::string& name, const std::string& help) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->group("Commands");
        sub->immediate_callback();
        sub->fallthrough();
        return sub;
    };

    addCommand("read", "read the chip's VCOM value")->callback([&commands] {
        commands.push_back(Command{Op::Read, 0, false, ""});
    });

    std::string updateText, saveText, patternText;
    CLI::App* update = addCommand("update", "set VALUE in the chip (not kept over power-off)");
    update->add_option("VALUE", updateText, "the new VCOM value")
        ->required()
        ->type_name("")
        ->check(valueValidator());
    update->footer(kValueRules);
    update->callback([&commands, &updateText] {
        Command command{Op::Update, 0, false, updateText};
        parseValue(updateText, &command.value);
        commands.push_back(command);
    });

    CLI::App* save = addCommand("save", "store VALUE permanently (MTP, or the environment)");
    save->add_option("VALUE", saveText, "the VCOM value to store")
        ->required()
        ->type_name("")
        ->check(valueValidator());
    save->footer(kValueRules);
    save->callback([&commands, &saveText] {
        Command command{Op::Save, 0, false, saveText};
        parseValue(saveText, &command.value);
        commands.push_back(command);
    });

    CLI::App* pattern = addCommand("pattern", "VCOM test pattern on or off (holds free-run at 60 Hz)");
    pattern->add_option("STATE", patternText, "on or off")
        ->required()
        ->type_name("")
        ->check(CLI::IsMember({"on", "off"}));
    pattern->callback([&commands, &patternText] {
        commands.push_back(Command{Op::Pattern, 0, patternText == "on", ""});
    });

    addCommand("config", "show the [VCOM] fields as the driver parsed them")->callback([&commands] {
        commands.push_back(Command{Op::Config, 0, false, ""});
    });
    addCommand("chips", "list the supported chips with TypeIdx and value ranges")
        ->callback([&commands] { commands.push_back(Command{Op::Chips, 0, false, ""}); });

    // Set last: subcommands would inherit it.
    app.footer(std::string(kValueRules) + "\n\n" + kFooter);

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
    outcome.run = true;
    return outcome;
}

std::string checkRange(const Command& command, const ChipInfo& chip)
{
    if (command.op != Op::Update && command.op != Op::Save) return "";
    const bool update = command.op == Op::Update;
    const unsigned int max = update ? chip.updateMax : chip.saveMax;
    if (command.value <= max) return "";
    return describe(command) + ": out of range for " + chip.name + " (0 to " +
           std::to_string(max) + ": " + (update ? chip.updateNote : chip.saveNote) + ")";
}

}  // namespace vcomctl
