#pragma once
// vcomctl calibrate: finds the panel's VCOM with the least flicker against a
// flicker meter, and saves it.
//
//   vcomctl --sim in525 calibrate --meter sim
//   vcomctl calibrate --meter-stdio 'ca410-driver --port /dev/ttyUSB0' --log line.jsonl

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace vcomctl {

struct CalibrateOptions {
    // From the global options.
    std::string root;
    std::string simChip;
    bool json = false;
    bool verbose = false;
    // The meter: exactly one of these.
    std::string meter;  // "sim": the simulated panel's
    std::string meterCommand;
    std::string meterStdio;
    unsigned meterTimeoutMs = 10000;
    // The search.
    unsigned settleMs = 100;
    unsigned samples = 3;
    unsigned maxUpdates = 20;
    bool save = true;
    std::string stateFile;  // the line's statistics, read and updated
    std::string logFile;    // one JSON line appended per panel
    std::string panelId;
    // The simulated panel behind --meter sim: drawn from the seed unless set.
    std::uint64_t simSeed = 1;
    std::optional<double> simOptimum;
    std::optional<double> simSlope;
    std::optional<double> simFloor;
    std::optional<double> simNoise;
};

// The calibrate command's own options (not --root, --sim, --json, -v).
void addCalibrateOptions(CLI::App& app, CalibrateOptions& options);

// 0: calibrated (and saved, unless told not to); 1: failed; 2: options refused.
int runCalibrateCommand(const CalibrateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vcomctl
