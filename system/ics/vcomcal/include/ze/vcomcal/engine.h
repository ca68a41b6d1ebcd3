#pragma once
// One panel's calibration through the platform's VCOM interface: test
// pattern on, search, pattern off, then a save of the best value that is
// read back to verify it. When the meter or an update fails, the panel goes
// back to the value it started with and nothing is saved.

#include <cstdint>
#include <functional>
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

struct CalibrationConfig {
    const ze::ic::catalogue::ChipInfo* chip = nullptr;  // sets the search's value range
    SearchConfig search;                                // lo and hi are taken from the chip
    std::uint64_t settleUs = kDefaultSettleUs;
    bool save = true;
    std::string panelId;  // for the report and the line's log
    // Saves a best value that its neighbours' readings did not confirm.
    bool saveUnconfirmed = false;
    // True once Ctrl-C/SIGTERM/SIGHUP arrived; checked between readings.
    std::function<bool()> stopRequested;
    // Waits and the clock of the elapsed time, both in microseconds.
    std::function<void(std::uint64_t)> sleep;  // default: usleep
    std::function<std::uint64_t()> clock;      // default: monotonic time
};

// Seeds the search with the line's earlier optima when there are enough.
void seedFromLine(SearchConfig& search, const LineStats& line);

struct CalibrationReport {
    std::string chip;
    std::string panelId;
    bool ok = false;
    std::string error;  // one line when !ok
    unsigned start = 0;
    unsigned best = 0;
    double flicker = 0;
    std::vector<Measurement> measurements;
    unsigned readings = 0;
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
