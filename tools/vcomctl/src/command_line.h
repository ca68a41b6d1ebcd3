#pragma once
// The command line: options for the whole run, then one or more commands
// applied in order to a single bring-up of the driver, or `session`, which
// takes its commands from stdin over one bring-up.
//
//   vcomctl [OPTIONS] COMMAND [COMMAND ...]
//   COMMAND: read | update VALUE | save VALUE | pattern on|off | config | chips
//   vcomctl [OPTIONS] session
//   vcomctl [OPTIONS] calibrate METER [CALIBRATION OPTIONS]

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include <ze/ic/chip_catalogue.h>

#include "calibrate_command.h"
#include "report.h"

namespace vcomctl {

using ChipInfo = ze::ic::catalogue::ChipInfo;

// "auo, in518, boe, ..." in TypeIdx order.
std::string chipNames();

// The command itself; Op, its word and the result a command gives are the
// report library's.
struct Command {
    Op op = Op::Read;
    std::uint16_t value = 0;  // update, save
    bool on = false;          // pattern
    std::string valueText;    // the value as typed, for messages
};

// A failure to rehearse on the simulated panel: --sim-fault KIND[:N].
struct Fault {
    enum class Kind { Write, Read, Gpio, Open, Absent, Status };
    Kind kind = Kind::Write;
    unsigned int number = 0;  // the nth call for write/read/gpio/open; the byte for status
    std::string text;         // as typed, for messages
};
// "" and *fault filled, or why the text is no fault.
std::string parseFault(const std::string& text, Fault* fault);

// "read", "update 0x80", "pattern on"
std::string describe(const Command& command);

// Board-file fields replaced for one run; the file itself is left alone.
struct Overrides {
    std::optional<unsigned int> bus;
    std::optional<unsigned int> addr7;  // as i2c-tools takes it; the board file holds addr7 << 1
    const ChipInfo* chip = nullptr;
    bool any() const { return bus || addr7 || chip != nullptr; }
};

struct Options {
    std::string root;      // --root; empty: $ZE_PLATFORM_ROOT or "/"
    std::string simChip;   // --sim, lower case; empty: not given
    std::string simState;  // --sim-state DIR
    std::vector<Fault> simFaults;
    Overrides overrides;
    bool json = false;
    bool valueOnly = false;
    bool verbose = false;
    bool verify = true;
    bool dryRun = false;
    bool assumeYes = false;
    TraceMode trace = TraceMode::Off;
    bool session = false;
    std::vector<Command> commands;
    CalibrateOptions calibrate;

    bool simulated() const { return !simChip.empty() || !simState.empty() || dryRun; }
};

struct ParseOutcome {
    bool run = false;  // false: exit with exitCode after printing
    int exitCode = 0;
    std::string out;    // --help and --version text, for stdout
    std::string error;  // one line, without the program name
    Options options;
};

// Exit statuses. 2 keeps its meaning from earlier releases: scripts tell a
// typo (nothing happened) from a failed operation (the chip may have changed).
// kExitOk (0) and kExitFailed (1: an operation, its verification or the
// bring-up failed) are the report's.
constexpr int kExitUsage = 2;  // the command line was refused; nothing was done
// A signal stopped the run between two commands: 128 + the signal number.
constexpr int kExitSignalBase = 128;

// The longest session line taken; a longer one is refused.
constexpr std::size_t kMaxSessionLine = 64 * 1024;
enum class LineRead { Line, TooLong, End };
// The next session line without its '\n'. A line longer than kMaxSessionLine
// is read to its end but not kept: *line holds its first bytes only, so that
// memory stays small however long it is.
LineRead readSessionLine(std::istream& in, std::string* line);

ParseOutcome parseCommandLine(const std::vector<std::string>& args);
// One line of a session: commands only, as on the command line.
ParseOutcome parseSessionLine(const std::string& line);

// The reason `command` must not reach `chip`, or "" when it may.
std::string checkRange(const Command& command, const ChipInfo& chip);

}  // namespace vcomctl
