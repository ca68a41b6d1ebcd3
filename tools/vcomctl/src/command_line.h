#pragma once
// The command line: options for the whole run, then one or more commands
// applied in order to a single bring-up of the driver, or `session`, which
// takes its commands from stdin over one bring-up.
//
//   vcomctl [OPTIONS] COMMAND [COMMAND ...]
//   COMMAND: read | update VALUE | save VALUE | pattern on|off | config | chips
//   vcomctl [OPTIONS] session
//   vcomctl [OPTIONS] calibrate METER [CALIBRATION OPTIONS]
//   vcomctl plot REPORT -o FILE.svg | line-report LOG -o FILE.html

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/vcomcal/line_stats.h>
#include <ze/vcomcal/meter.h>

#include "report.h"

namespace CLI {
class App;
}  // namespace CLI

namespace vcomctl {

class StopControl;

// vcomctl calibrate: finds the panel's VCOM with the least flicker against a
// flicker meter, and saves it. --meter's one value is the simulated panel's.
constexpr const char* kSimMeter = "sim";

struct CalibrateOptions {
    // The meter: exactly one of these.
    std::string meter;  // "sim": the simulated panel's
    std::string meterCommand;
    std::string meterStdio;
    unsigned meterTimeoutMs = 10000;
    // The search.
    unsigned settleMs = 100;
    unsigned samples = 3;
    unsigned maxUpdates = 24;
    std::optional<unsigned> maxReadings;  // the search's own limit unless set
    bool save = true;
    bool saveUnconfirmed = false;
    std::string stateFile;  // the line's statistics, read and updated
    double halfLife = ze::vcomcal::kDefaultHalfLifePanels;  // in panels; 0: all weigh alike
    std::string logFile;                                    // one JSON line appended per panel
    std::string plotFile;                                   // the panel's curve as an SVG
    std::string panelId;
    // The simulated flicker behind --meter sim: drawn from the seed unless set.
    std::uint64_t simSeed = 1;
    std::optional<double> simOptimum;
    std::optional<double> simSlope;
    std::optional<double> simFloor;
    std::optional<double> simNoise;
};

void addCalibrateOptions(CLI::App& command, CalibrateOptions& options);
// Why the options cannot run, or "".
std::string calibrateProblem(const CalibrateOptions& options, bool simulatedPanel);

// The meter watching a simulated panel; empty without one.
using SimulatedMeter = std::function<std::unique_ptr<ze::vcomcal::Meter>(
    const CalibrateOptions& options, const ze::ic::catalogue::ChipInfo& chip)>;

// Calibrates the panel behind `vcom` into `result` (the report in
// result.calibration), appends the log line and, on success, updates the
// line's statistics. The log and the statistics are opened before the panel
// is touched: one that cannot be written fails the run before any update.
// A stop requested of vcomctl abandons the calibration (the panel set back,
// nothing saved).
void calibrateInto(CommandResult& result, ze::hal::Vcom& vcom,
                   const ze::ic::catalogue::ChipInfo& chip, const CalibrateOptions& options,
                   const SimulatedMeter& simulated, const StopControl* stop);

// vcomctl plot and line-report draw calibrations from their reports alone,
// with no driver and no panel. Runs `args` (without the program name) when
// they name one of them: the exit status (0, 1 when a file cannot be read or
// written, 2 for the command line); nullopt for any other command.
std::optional<int> runPlotCommand(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err);

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
