#include "calibrate_command.h"

#include <chrono>
#include <memory>
#include <random>

#include <CLI/CLI.hpp>

#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/flicker_panel.h>
#include <ze/vcomcal/report.h>

#include "runner.h"

namespace vcomctl {
namespace {

constexpr std::uint64_t kUsPerMs = 1000;
constexpr const char* kSimMeter = "sim";

ze::vcomcal::FlickerPanel simulatedFlicker(const CalibrateOptions& options,
                                           const ze::ic::catalogue::ChipInfo& chip)
{
    std::mt19937_64 random(options.simSeed);
    ze::vcomcal::FlickerPanel panel = ze::vcomcal::populationFor(chip).draw(random);
    if (options.simOptimum) panel.optimum = *options.simOptimum;
    if (options.simSlope) panel.slopeBelow = panel.slopeAbove = *options.simSlope;
    if (options.simFloor) panel.floor = *options.simFloor;
    if (options.simNoise) panel.noise = *options.simNoise;
    return panel;
}

std::unique_ptr<ze::vcomcal::Meter> makeMeter(const CalibrateOptions& options,
                                              const ze::ic::catalogue::ChipInfo& chip,
                                              const HeldValue& simulated)
{
    const std::chrono::milliseconds timeout(options.meterTimeoutMs);
    if (!options.meterCommand.empty())
        return ze::vcomcal::commandMeter(options.meterCommand, timeout);
    if (!options.meterStdio.empty()) return ze::vcomcal::stdioMeter(options.meterStdio, timeout);
    return ze::vcomcal::simulatedMeter(simulatedFlicker(options, chip), options.simSeed, simulated);
}

}  // namespace

void addCalibrateOptions(CLI::App& app, CalibrateOptions& o)
{
    app.add_option("--meter", o.meter, "sim: the simulated panel's meter (needs --sim)")
        ->check(CLI::IsMember({kSimMeter}));
    app.add_option("--meter-cmd", o.meterCommand,
                   "run PROGRAM ARGS per reading; it prints one number, lower is better");
    app.add_option("--meter-stdio", o.meterStdio,
                   "start PROGRAM ARGS once; write the value and a newline per reading, read "
                   "one number per line");
    app.add_option("--meter-timeout", o.meterTimeoutMs, "ms a reading may take")
        ->check(CLI::PositiveNumber);
    app.add_option("--settle", o.settleMs, "ms to wait after each update before reading");
    app.add_option("--samples", o.samples, "readings per measurement, at least")
        ->check(CLI::Range(1u, 100u));
    app.add_option("--max-updates", o.maxUpdates, "updates the search may make")
        ->check(CLI::Range(5u, 1000u));
    app.add_flag("!--no-save", o.save, "find and set the best value, but do not save it");
    app.add_option("--state", o.stateFile, "the line's statistics (JSON), read and updated");
    app.add_option("--log", o.logFile, "append one JSON line per panel");
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
                   const HeldValue& simulated)
{
    ze::vcomcal::LineStats line;
    if (!options.stateFile.empty()) {
        const auto loaded = ze::vcomcal::LineStats::load(options.stateFile, &result.error);
        if (!loaded) {
            result.ok = false;
            return;
        }
        line = *loaded;
    }
    ze::vcomcal::CalibrationConfig config;
    config.chip = &chip;
    config.search.samples = options.samples;
    config.search.maxSamples = std::max(config.search.maxSamples, options.samples);
    config.search.maxMoves = options.maxUpdates;
    config.settleUs = options.settleMs * kUsPerMs;
    config.save = options.save;
    config.panelId = options.panelId;
    ze::vcomcal::seedFromLine(config.search, line);

    ze::vcomcal::CalibrationReport report;
    try {
        const auto meter = makeMeter(options, chip, simulated);
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
    if (!options.logFile.empty() &&
        !ze::vcomcal::appendToLog(options.logFile, report, &result.error)) {
        result.ok = false;
    } else if (report.ok && !options.stateFile.empty()) {
        line.add(report.best);
        result.ok = line.save(options.stateFile, &result.error);
    }
    result.calibration = std::move(report);
}

}  // namespace vcomctl
