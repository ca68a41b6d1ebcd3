#include "command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include <ze/vcomcal/engine.h>

#include "new_file.h"
#include "report.h"
#include "stop_control.h"

namespace vcomctl {
namespace {

constexpr std::uint64_t kUsPerMs = 1000;
constexpr mode_t kNewFileMode = 0666;  // less the umask

using ze::vcomcal::CalibrationReport;

// What a calibration writes once the panel is done. Each is opened and
// checked before the first update, so that one that cannot be written stops
// the run while the panel is unchanged, never after its save.
using Output = std::function<bool(const CalibrationReport& report, std::string* error)>;

// One JSON line per panel, whatever its outcome.
Output openLog(const std::string& path, std::string* error)
{
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        *error = systemError("cannot open the log", path) +
                 (errno == ELOOP ? " (a symbolic link is not written through)" : "");
        return nullptr;
    }
    const std::shared_ptr<void> closer(nullptr, [fd](void*) { close(fd); });
    return [path, fd, closer](const CalibrationReport& report, std::string* why) {
        // One write, so that the lines of stations sharing the log never mix.
        const std::string text = calibrationLogLine(report);
        if (write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) return true;
        *why =
            "cannot append to the log " + path + ": " + std::strerror(errno != 0 ? errno : ENOSPC);
        return false;
    };
}

// The log, the picture and the line's statistics. The statistics are read
// at the start to seed the search into *line; a panel whose minimum was
// found and confirmed enters them at the end.
bool openOutputs(const CalibrateOptions& options, std::vector<Output>* outputs,
                 ze::vcomcal::LineStats* line, std::string* error)
{
    *line = ze::vcomcal::LineStats(options.halfLife);
    if (!options.logFile.empty() && !outputs->emplace_back(openLog(options.logFile, error)))
        return false;
    if (!options.plotFile.empty()) {
        const FileCommit file = newFile(options.plotFile, error);
        if (!file) return false;
        // The panel's curve, drawn from its report whatever the outcome.
        outputs->emplace_back([file](const CalibrationReport& report, std::string* why) {
            return file(calibrationPicture(report), why);
        });
    }
    if (options.stateFile.empty()) return true;
    std::shared_ptr<ze::vcomcal::LineStateFile> file =
        ze::vcomcal::LineStateFile::open(options.stateFile, options.halfLife, error);
    if (!file) return false;
    *line = file->stats();
    // With --save-unconfirmed such a panel is saved, but it does not steer the line.
    outputs->emplace_back([file](const CalibrationReport& report, std::string* why) {
        return !report.ok || !report.confirmed || file->add(report.best, why);
    });
    return true;
}

}  // namespace

void addCalibrateOptions(CLI::App& app, CalibrateOptions& o)
{
    app.add_option("--meter", o.meter, "sim: the simulated panel's meter (needs --sim)")
        ->check(CLI::IsMember({kSimMeter}));
    app.add_option("--meter-cmd", o.meterCommand,
                   "run PROGRAM ARGS per reading (through /bin/sh -c when it holds shell "
                   "syntax); it prints one number and exits 0, lower is better");
    app.add_option("--meter-stdio", o.meterStdio,
                   "start PROGRAM ARGS once (through /bin/sh -c when it holds shell syntax); "
                   "per reading write one line, the value, and read one line back, one number; "
                   "lines it prints unasked are dropped");
    app.add_option("--meter-timeout", o.meterTimeoutMs,
                   "ms a reading may take; then the meter and all it started are killed")
        ->check(CLI::PositiveNumber);
    app.add_option("--settle", o.settleMs, "ms to wait after each update before reading");
    app.add_option("--samples", o.samples, "readings per measurement, at least")
        ->check(CLI::Range(1u, 100u));
    app.add_option("--max-updates", o.maxUpdates, "updates the search may make")
        ->check(CLI::Range(5u, 1000u));
    app.add_option("--max-readings", o.maxReadings,
                   "meter readings the search may take (default " +
                       std::to_string(ze::vcomcal::SearchConfig{}.maxReadings) +
                       "); reaching this or --max-updates fails the run, nothing saved")
        ->check(CLI::PositiveNumber);
    app.add_flag("!--no-save", o.save, "find and set the best value, but do not save it");
    app.add_flag("--save-unconfirmed", o.saveUnconfirmed,
                 "save a best value that its neighbours' readings did not confirm");
    app.add_option("--state", o.stateFile,
                   "the line's statistics (JSON), read and updated under FILE.lock");
    app.add_option("--half-life", o.halfLife,
                   "panels after which a panel weighs half in --state (default " +
                       std::to_string(static_cast<int>(ze::vcomcal::kDefaultHalfLifePanels)) +
                       "); 0: all alike")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--log", o.logFile, "append one JSON line per panel");
    app.add_option("--plot", o.plotFile,
                   "draw the panel's readings and chosen value as an SVG (made whatever the "
                   "outcome; its directory is checked before the first update)");
    app.add_option("--panel-id", o.panelId, "the panel's serial, for the report and the log");
    app.add_option("--sim-seed", o.simSeed, "draws the simulated panel's flicker");
    app.add_option("--sim-optimum", o.simOptimum, "the simulated panel's best value");
    app.add_option("--sim-slope", o.simSlope, "its flicker per code away from the best");
    app.add_option("--sim-floor", o.simFloor, "its flicker at the best value");
    app.add_option("--sim-noise", o.simNoise, "its meter noise (standard deviation)");
}

std::string calibrateProblem(const CalibrateOptions& options, bool simulatedPanel)
{
    const int meters = int(!options.meter.empty()) + int(!options.meterCommand.empty()) +
                       int(!options.meterStdio.empty());
    if (meters != 1) return "calibrate: name one meter: --meter sim, --meter-cmd or --meter-stdio";
    if (!options.meter.empty() && !simulatedPanel) {
        return "calibrate: --meter sim watches a simulated panel; add --sim CHIP or --sim-state "
               "DIR";
    }
    return "";
}

void calibrateInto(CommandResult& result, ze::hal::Vcom& vcom,
                   const ze::ic::catalogue::ChipInfo& chip, const CalibrateOptions& options,
                   const SimulatedMeter& simulated, const StopControl* control)
{
    std::vector<Output> outputs;
    ze::vcomcal::LineStats line;
    if (!openOutputs(options, &outputs, &line, &result.error)) {
        result.ok = false;
        result.error = "calibrate: " + result.error;
        return;
    }
    ze::vcomcal::CalibrationConfig config;
    if (control != nullptr) config.stopRequested = [control] { return control->requested() != 0; };
    config.chip = &chip;
    config.search.samples = options.samples;
    config.search.maxSamples = std::max(config.search.maxSamples, options.samples);
    config.search.maxMoves = options.maxUpdates;
    if (options.maxReadings) config.search.maxReadings = *options.maxReadings;
    config.settleUs = options.settleMs * kUsPerMs;
    config.save = options.save;
    config.saveUnconfirmed = options.saveUnconfirmed;
    config.panelId = options.panelId;
    ze::vcomcal::seedFromLine(config, line);
    if (config.line && line.halfLife() > 0) config.line->halfLife = line.halfLife();

    CalibrationReport report;
    const std::chrono::milliseconds timeout(options.meterTimeoutMs);
    try {
        const std::unique_ptr<ze::vcomcal::Meter> meter =
            !options.meterCommand.empty()
                ? ze::vcomcal::commandMeter(options.meterCommand, timeout, config.stopRequested)
            : !options.meterStdio.empty()
                ? ze::vcomcal::stdioMeter(options.meterStdio, timeout, config.stopRequested)
                : simulated(options, chip);
        report = ze::vcomcal::calibrate(vcom, *meter, config);
    } catch (const ze::vcomcal::MeterError& e) {
        // The meter did not start: nothing reached the panel.
        report.chip = chip.label;
        report.panelId = options.panelId;
        report.error = e.what();
    }
    result.ok = report.ok;
    result.error = report.ok ? "" : "calibrate: " + report.error;
    result.value = report.best;
    // Every output is written, whichever failed; the first failure is told.
    std::string outputError;
    for (const Output& output : outputs) {
        std::string why;
        if (output(report, &why) || !outputError.empty()) continue;
        outputError = why;
    }
    if (!outputError.empty()) {
        result.error = result.ok ? "calibrate: " + outputError : result.error + "; " + outputError;
        result.ok = false;
    }
    result.calibration = std::move(report);
}

}  // namespace vcomctl
