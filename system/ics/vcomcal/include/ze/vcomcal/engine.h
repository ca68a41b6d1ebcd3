#pragma once
// One panel's calibration through the platform's VCOM interface: test
// pattern on, search, pattern off, then a save of the best value that is
// read back to verify it. Only a confirmed minimum is saved (unless asked
// otherwise); on any failure, a stop request included, the panel goes back
// to the value it started with and nothing is saved.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/vcomcal/line_stats.h>
#include <ze/vcomcal/meter.h>
#include <ze/vcomcal/search.h>

namespace ze {
namespace vcomcal {

// Long enough for a typical panel's optical response to settle after an update.
constexpr std::uint64_t kDefaultSettleUs = 100000;
// The line's statistics seed the search once this many panels are in.
constexpr unsigned long kMinSeedPanels = 2;

// The line's statistics a search was seeded with, for the report.
struct LineSummary {
    double count = 0;
    double mean = 0;
    double sigma = 0;
    std::optional<double> halfLife;  // in panels, when the statistics are weighted
};

struct CalibrationConfig {
    const ze::ic::catalogue::ChipInfo* chip = nullptr;  // sets the search's value range
    SearchConfig search;  // lo and hi are taken from the chip: what it stores
    std::uint64_t settleUs = kDefaultSettleUs;
    bool save = true;
    bool saveUnconfirmed = false;
    // True once a stop was asked for; looked at between readings and settles.
    std::function<bool()> stopRequested;
    std::optional<LineSummary> line;
    std::string panelId;  // for the report and the line's log
    // Waits and the clock of the elapsed time, both in microseconds.
    std::function<void(std::uint64_t)> sleep;  // default: usleep
    std::function<std::uint64_t()> clock;      // default: monotonic time
};

// Seeds the search with the line's earlier optima when there are enough.
void seedFromLine(SearchConfig& search, const LineStats& line);
// The same, noting the statistics used in config.line for the report.
void seedFromLine(CalibrationConfig& config, const LineStats& line);

struct RawReading {
    unsigned value;
    double reading;
    double seconds;  // since the run started, on the configured clock
};

struct CalibrationReport {
    std::string chip;
    std::string panelId;
    bool ok = false;
    std::string error;   // one line when !ok
    std::string reason;  // when !ok: meter, update, no_minimum, unconfirmed, interrupted,
                         // limit, save or verify
    unsigned start = 0;
    unsigned rangeLo = 0;  // the values the search may choose
    unsigned rangeHi = 0;
    unsigned best = 0;
    double flicker = 0;
    std::vector<Measurement> measurements;
    std::vector<RawReading> raw;
    unsigned readings = 0;
    std::optional<double> noise;
    bool confirmed = false;
    std::optional<Confirmation> confirmation;
    bool atRangeEnd = false;
    std::string modelKind;  // empty without a model
    std::vector<std::pair<double, double>> modelCurve;
    std::optional<LineSummary> line;
    unsigned updates = 0;   // every update the driver made, the way back included
    bool restored = false;  // set back to `start` after a failure
    bool saved = false;
    bool verified = false;        // the read after the save returned `best`
    std::uint64_t elapsedUs = 0;  // on the configured clock
    std::uint64_t settleUs = 0;   // of which settling after updates
    std::uint64_t wallUs = 0;     // on the wall, whatever the clock
};

CalibrationReport calibrate(ze::hal::Vcom& vcom, Meter& meter, const CalibrationConfig& config);

}  // namespace vcomcal
}  // namespace ze
