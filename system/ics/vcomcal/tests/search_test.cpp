#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <ze/vcomcal/flicker_panel.h>
#include <ze/vcomcal/search.h>

namespace ze::vcomcal {
namespace {

constexpr unsigned kSeeds = 25;

struct Curve {
    const char* name;
    FlickerPanel panel;
    SearchConfig config;
};

SearchConfig range(unsigned hi, std::optional<double> mean = {}, std::optional<double> sigma = {})
{
    SearchConfig config;
    config.hi = hi;
    config.seedMean = mean;
    config.seedSigma = sigma;
    return config;
}

TEST(Search, findsTheOptimumWithinOneCodeOnNoisyCurvesInAFewUpdates)
{
    // optimum, slope below, slope above, floor, noise, outlier rate, outlier size
    const Curve curves[] = {
        {"typical", {131.3, 0.5, 0.5, 1.0, 0.1, 0.01, 3.0}, range(255)},
        {"steep on one side", {97.6, 0.3, 0.9, 1.0, 0.1, 0.01, 3.0}, range(255)},
        {"wide flat bottom, loud", {160.2, 0.2, 0.25, 2.0, 0.15, 0.0, 0.0}, range(255)},
        {"many outliers", {120.0, 0.5, 0.5, 1.0, 0.1, 0.08, 6.0}, range(255)},
        {"at the low end", {0.2, 0.5, 0.5, 1.0, 0.1, 0.0, 0.0}, range(255)},
        {"below the range", {-6.0, 0.5, 0.5, 1.0, 0.1, 0.0, 0.0}, range(127)},
        {"at the high end", {652.7, 0.5, 0.5, 1.0, 0.1, 0.0, 0.0}, range(653)},
        {"far outside a narrow seed", {190.4, 0.5, 0.5, 1.0, 0.1, 0.01, 3.0}, range(255, 128, 3)},
        {"seeded", {126.8, 0.5, 0.5, 1.0, 0.1, 0.01, 3.0}, range(255, 128, 12)},
    };
    for (const Curve& curve : curves) {
        for (unsigned seed = 0; seed < kSeeds; ++seed) {
            std::mt19937_64 random(seed);
            std::normal_distribution<double> noise(0, curve.panel.noise);
            std::uniform_real_distribution<double> chance(0, 1);
            const Probe probe = [&](unsigned v, unsigned n) {
                std::vector<double> readings;
                for (unsigned i = 0; i < n; ++i) {
                    const bool outlier = chance(random) < curve.panel.outlierRate;
                    readings.push_back(curve.panel.flicker(v) + noise(random) +
                                       (outlier ? curve.panel.outlierSize : 0.0));
                }
                return readings;
            };
            const SearchResult found = findOptimum(curve.config, probe);
            const long truth = curve.panel.bestCode(curve.config.lo, curve.config.hi);
            EXPECT_LE(std::labs(long(found.best) - truth), 1) << curve.name << ", seed " << seed;
            EXPECT_LE(found.moves, curve.config.maxMoves) << curve.name << ", seed " << seed;
        }
    }
}

TEST(Search, refusesARangeWithoutRoomAndTooFewUpdates)
{
    const Probe probe = [](unsigned, unsigned n) { return std::vector<double>(n, 1.0); };
    SearchConfig config = range(0);
    EXPECT_THROW(findOptimum(config, probe), std::invalid_argument);
    config = range(255);
    config.maxMoves = 4;
    EXPECT_THROW(findOptimum(config, probe), std::invalid_argument);
}

}  // namespace
}  // namespace ze::vcomcal
