#pragma once
// The command line: options for the whole run, then one or more commands
// applied in order to a single bring-up of the driver.
//
//   vcomctl [OPTIONS] COMMAND [COMMAND ...]
//   COMMAND: read | update VALUE | save VALUE | pattern on|off | config | chips

#include <cstdint>
#include <string>
#include <vector>

#include "chips.h"

namespace vcomctl {

// Init is no command of its own: the driver's init() that precedes them.
enum class Op { Read, Update, Save, Pattern, Config, Chips, Init };

struct Command {
    Op op = Op::Read;
    std::uint16_t value = 0;  // update, save
    bool on = false;          // pattern
    std::string valueText;    // the value as typed, for messages
};

// "read", "update 0x80", "pattern on"
std::string describe(const Command& command);
// True for commands that act through the driver (all but chips).
bool needsDriver(const Command& command);

struct Options {
    std::string root;     // --root; empty: $ZE_PLATFORM_ROOT or "/"
    std::string simChip;  // --sim, lower case; empty: not given
    bool json = false;
    bool verbose = false;
    bool trace = false;
    std::vector<Command> commands;
};

struct ParseOutcome {
    bool run = false;    // false: exit with exitCode after printing
    int exitCode = 0;
    std::string out;     // --help and --version text, for stdout
    std::string error;   // one line, without the program name
    Options options;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // an operation or the bring-up failed
constexpr int kExitUsage = 2;   // the command line was refused; nothing was done

ParseOutcome parseCommandLine(const std::vector<std::string>& args);

// The reason `command` must not reach `chip`, or "" when it may.
std::string checkRange(const Command& command, const ChipInfo& chip);

}  // namespace vcomctl
