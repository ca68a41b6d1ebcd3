#pragma once
// vcomctl calibrate: finds the panel's VCOM with the least flicker against a
// flicker meter, and saves it.
//
//   vcomctl calibrate --sim in525 --meter sim
//   vcomctl calibrate --meter-stdio 'ca410-driver --port /dev/ttyUSB0' --log line.jsonl

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/vcomcal/line_stats.h>
#include <ze/vcomcal/meter.h>

namespace CLI {
class App;
}  // namespace CLI

namespace vcomctl {

struct CommandResult;
class StopControl;

// --meter's one value: the simulated panel's meter.
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

}  // namespace vcomctl
