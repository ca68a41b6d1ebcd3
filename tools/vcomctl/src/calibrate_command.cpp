#include "calibrate_command.h"

#include <chrono>
#include <memory>
#include <random>

#include <CLI/CLI.hpp>

#include <ze/ic/chip_catalogue.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/flicker_panel.h>
#include <ze/vcomcal/report.h>

#include "command_line.h"
#include "driver_log.h"
#include "platform_setup.h"
#include "session.h"

namespace vcomctl {
namespace {

constexpr const char* kPrefix = "vcomctl calibrate: ";
constexpr std::uint64_t kUsPerMs = 1000;
constexpr const char* kSimMeter = "sim";

int refuse(std::ostream& err, const std::string& why)
{
    err << kPrefix << why << "\n";
    return kExitUsage;
}

int fail(std::ostream& err, const std::string& why)
{
    err << kPrefix << why << "\n";
    return kExitFailed;
}

ze::vcomcal::FlickerPanel simulatedPanel(const CalibrateOptions& options,
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
                                              ze::hal::Vcom& vcom)
{
    const std::chrono::milliseconds timeout(options.meterTimeoutMs);
    if (!options.meterCommand.empty())
        return ze::vcomcal::commandMeter(options.meterCommand, timeout);
    if (!options.meterStdio.empty()) return ze::vcomcal::stdioMeter(options.meterStdio, timeout);
    return ze::vcomcal::simulatedMeter(simulatedPanel(options, chip), options.simSeed,
                                       ze::vcomcal::heldValueByDriverRead(vcom));
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
    app.add_option("--sim-seed", o.simSeed, "draws the simulated panel");
    app.add_option("--sim-optimum", o.simOptimum, "the simulated panel's best value");
    app.add_option("--sim-slope", o.simSlope, "its flicker per code away from the best");
    app.add_option("--sim-floor", o.simFloor, "its flicker at the best value");
    app.add_option("--sim-noise", o.simNoise, "its meter noise (standard deviation)");
}

int runCalibrateCommand(const CalibrateOptions& options, std::ostream& out, std::ostream& err)
{
    const int meters = int(!options.meter.empty()) + int(!options.meterCommand.empty()) +
                       int(!options.meterStdio.empty());
    if (meters != 1)
        return refuse(err, "name one meter: --meter sim, --meter-cmd or --meter-stdio");
    if (!options.meter.empty() && options.simChip.empty()) {
        return refuse(err, "--meter sim watches a simulated panel; add --sim CHIP");
    }

    std::string error;
    ze::vcomcal::LineStats line;
    if (!options.stateFile.empty()) {
        const auto loaded = ze::vcomcal::LineStats::load(options.stateFile, &error);
        if (!loaded) return fail(err, error);
        line = *loaded;
    }

    DriverLog log(options.verbose, [&err](const std::string& text) { err << text << "\n"; });
    Options platformOptions;
    platformOptions.root = options.root;
    platformOptions.simChip = options.simChip;
    const auto platform = PlatformSetup::prepare(platformOptions, log, &error);
    if (!platform) return fail(err, error);
    const auto* chip = ze::ic::catalogue::byTypeIdx(platform->board().typeIdx);
    if (chip == nullptr) {
        return fail(err, "TypeIdx " + std::to_string(platform->board().typeIdx) +
                             " in the board file names no chip the driver supports");
    }
    const auto session = DriverSession::open(platform->board().i2cBus, &error);
    if (!session) return fail(err, error);
    if (const int status = session->vcom().init()) {
        return fail(err, "driver init failed (status " + std::to_string(status) + ")");
    }

    ze::vcomcal::CalibrationConfig config;
    config.chip = chip;
    config.search.samples = options.samples;
    config.search.maxSamples = std::max(config.search.maxSamples, options.samples);
    config.search.maxMoves = options.maxUpdates;
    config.settleUs = options.settleMs * kUsPerMs;
    config.save = options.save;
    config.panelId = options.panelId;
    ze::vcomcal::seedFromLine(config.search, line);

    ze::vcomcal::CalibrationReport report;
    try {
        const auto meter = makeMeter(options, *chip, session->vcom());
        report = ze::vcomcal::calibrate(session->vcom(), *meter, config);
    } catch (const ze::vcomcal::MeterError& e) {
        return fail(err, e.what());
    }

    if (options.json) {
        out << ze::vcomcal::toJson(report).dump(2) << "\n";
    } else {
        out << ze::vcomcal::summary(report);
    }
    if (!options.logFile.empty() && !ze::vcomcal::appendToLog(options.logFile, report, &error)) {
        return fail(err, error);
    }
    if (!report.ok) return fail(err, report.error);
    if (!options.stateFile.empty()) {
        line.add(report.best);
        if (!line.save(options.stateFile, &error)) return fail(err, error);
    }
    return kExitOk;
}

}  // namespace vcomctl
