#pragma once
// The search for the VCOM value with the least flicker.
//
// Flicker against VCOM is close to a V: two nearly straight arms, a flat
// bottom and meter noise on top. The search brackets the bottom (from the
// line's earlier optima when known, widening while the lowest point sits on
// the bracket's edge), then places pairs of points on both arms at matching
// flicker levels and intersects the two fitted arm lines. At matching levels
// the curvature near the bottom biases both arms alike, so the intersection
// stays on the optimum even when the bottom is rounded. Each point takes as
// many readings as the noise observed so far calls for.

#include <functional>
#include <optional>
#include <vector>

namespace ze {
namespace vcomcal {

struct SearchConfig {
    unsigned lo = 0;
    unsigned hi = 255;
    // The line's earlier optima; without them the search starts on the
    // middle half of the range.
    std::optional<double> seedMean;
    std::optional<double> seedSigma;
    // Readings per measurement: at least `samples`, more (up to `maxSamples`)
    // when the noise seen so far would blur a point by more than a quarter code.
    unsigned samples = 3;
    unsigned maxSamples = 15;
    // Value changes the search may make; it settles for its best estimate then.
    unsigned maxMoves = 20;
    // Meter readings the search may take; reaching it, or maxMoves, is a failure.
    unsigned maxReadings = 200;
};

struct Measurement {
    unsigned value;
    double flicker;  // median of the readings
    unsigned readings;
};

struct SearchResult {
    unsigned best = 0;
    double flicker = 0;                     // as measured at `best`
    std::vector<Measurement> measurements;  // in the order taken
    unsigned moves = 0;                     // value changes made
};

// Sets the panel to `value` (if it is not there), lets it settle and returns
// `count` flicker readings, lower is better. Throws to stop the search.
using Probe = std::function<std::vector<double>(unsigned value, unsigned count)>;

SearchResult findOptimum(const SearchConfig& config, const Probe& probe);

}  // namespace vcomcal
}  // namespace ze
