#pragma once
// The search for the VCOM value with the least flicker.
//
// Meters report flicker on different scales (linear, in dB, as power, as a
// contrast), so the curve against VCOM is only known to fall to one minimum
// and rise again. Every decision therefore rests on the order of measured
// medians, which no such scale changes: golden-section steps keep the
// minimum between the lowest point and its nearest measured neighbours, and a
// V fitted to the arms only proposes where to measure next. The result is
// confirmed by measurement: the neighbours on each side (further out where
// noise hides a one-code step) must rise above it at a stated confidence,
// with the panel read again at the chosen value last.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ze {
namespace vcomcal {

struct SearchConfig {
    unsigned lo = 0;
    unsigned hi = 255;
    // The line's earlier optima; without them the search starts on the whole
    // range. A mean outside it is taken to the nearer end.
    std::optional<double> seedMean;
    std::optional<double> seedSigma;
    // Readings per measurement near the minimum; points far up an arm take
    // two, or three when the two disagree. Where the confirmation is close,
    // a point takes up to `maxSamples`.
    unsigned samples = 3;
    unsigned maxSamples = 15;
    // Value changes and meter readings the search may make; reaching either
    // ends it without a result.
    unsigned maxMoves = 24;
    unsigned maxReadings = 80;
};

struct Measurement {
    unsigned value;
    double flicker;  // median of the readings
    unsigned readings;
};

// One value's readings as the confirmation judged them.
struct PointEvidence {
    unsigned value = 0;
    double median = 0;
    double stdError = 0;  // of the median
    unsigned readings = 0;
    bool lower = false;  // significantly below the chosen value
};

struct Confirmation {
    double confidence = 0;  // one-sided
    PointEvidence best;
    std::vector<PointEvidence> neighbours;
};

enum class SearchOutcome {
    Confirmed,
    Unconfirmed,  // the neighbours do not rise clearly enough
    NoMinimum,    // nothing rises above the noise anywhere
    Limit,        // the moves or readings ran out
};

struct SearchResult {
    SearchOutcome outcome = SearchOutcome::Limit;
    unsigned best = 0;
    double flicker = 0;                     // median at `best`
    std::vector<Measurement> measurements;  // in the order taken
    unsigned moves = 0;                     // value changes made
    unsigned readings = 0;
    std::optional<double> noise;  // a reading's spread near the minimum
    std::optional<Confirmation> confirmation;
    bool atRangeEnd = false;
    // The V the search last believed in: its kind and corner points.
    std::string modelKind;
    std::vector<std::pair<double, double>> modelCurve;
};

// Sets the panel to `value` (if it is not there), lets it settle and returns
// `count` flicker readings, lower is better. Throws to stop the search.
using Probe = std::function<std::vector<double>(unsigned value, unsigned count)>;

// Throws std::invalid_argument for an empty range or no readings.
SearchResult findOptimum(const SearchConfig& config, const Probe& probe);

}  // namespace vcomcal
}  // namespace ze
