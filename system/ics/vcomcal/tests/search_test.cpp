#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <ze/sim/flicker_panel.h>
#include <ze/vcomcal/search.h>

namespace ze::vcomcal {
namespace {

constexpr unsigned kSeeds = 20;

// Readings of `panel` with its noise (no outliers unless it has them);
// `shiftAfter` readings in, the optimum jumps by `shift`.
Probe meterOf(FlickerPanel& panel, std::mt19937_64& random, unsigned shiftAfter = 0,
              double shift = 0)
{
    return [&panel, &random, shiftAfter, shift, n = 0u](unsigned v, unsigned count) mutable {
        std::normal_distribution<double> noise(0, panel.noise);
        std::vector<double> readings;
        for (unsigned i = 0; i < count; ++i, ++n) {
            if (shiftAfter != 0 && n == shiftAfter) panel.optimum += shift;
            readings.push_back(panel.reported(std::abs(panel.amplitude(v) + noise(random))));
        }
        return readings;
    };
}

SearchConfig range(unsigned hi, std::optional<double> mean = {}, std::optional<double> sigma = {})
{
    SearchConfig config;
    config.hi = hi;
    config.seedMean = mean;
    config.seedSigma = sigma;
    return config;
}

TEST(Search, confirmsTheBestCodeAnywhereInTheRangeOnEveryScale)
{
    struct Case {
        const char* name;
        double optimum, below, above, noise;
        SearchConfig config;
        unsigned best;
    };
    const Case cases[] = {
        {"between the outer point and the end", 218.3, 0.5, 0.5, 0, range(255), 218},
        {"near the low end", 3.2, 0.5, 0.5, 0, range(255), 3},
        {"at the low end", -0.3, 0.5, 0.5, 0, range(255), 0},
        {"beyond the high end", 258.0, 0.5, 0.5, 0, range(255), 255},
        {"steep on one side, noisy", 97.6, 0.3, 0.9, 0.1, range(255), 97},
        {"seed outside the range", 40.4, 0.5, 0.5, 0.1, range(127, 1000, 2), 40},
    };
    for (const Case& c : cases) {
        for (FlickerShape shape : {FlickerShape::LinearV, FlickerShape::RoundedV,
                                   FlickerShape::Decibel, FlickerShape::Power}) {
            for (unsigned seed = 0; seed < (c.noise > 0 ? kSeeds : 1); ++seed) {
                FlickerPanel panel{c.optimum, c.below, c.above, 0.5, shape, c.noise, 0, 0, 0};
                std::mt19937_64 random(seed);
                const SearchResult found = findOptimum(c.config, meterOf(panel, random));
                const std::string what = std::string(c.name) + ", " + shapeName(shape);
                EXPECT_EQ(SearchOutcome::Confirmed, found.outcome) << what;
                EXPECT_LE(std::abs(int(found.best) - int(c.best)), c.noise > 0 ? 1 : 0) << what;
                EXPECT_EQ(found.best == 0 || found.best == c.config.hi, found.atRangeEnd) << what;
                EXPECT_LE(found.moves, c.config.maxMoves) << what;
            }
        }
    }
}

TEST(Search, aCurveThatMovesAfterTheModelFormedIsFollowedOrLeftUnconfirmed)
{
    for (unsigned seed = 0; seed < kSeeds; ++seed) {
        FlickerPanel panel{150.0, 0.5, 0.5, 0.5, FlickerShape::LinearV, 0.05, 0, 0, 0};
        std::mt19937_64 random(seed);
        const SearchResult found = findOptimum(range(255), meterOf(panel, random, 14, 5.0));
        if (found.outcome == SearchOutcome::Confirmed) {
            EXPECT_NEAR(155, found.best, 1) << seed;
        }
    }
}

TEST(Search, endsWithoutAResultOnAFlatMeterOrWhenItsLimitsRunOut)
{
    const Probe stuck = [](unsigned, unsigned n) { return std::vector<double>(n, -1.0); };
    EXPECT_EQ(SearchOutcome::NoMinimum, findOptimum(range(255), stuck).outcome);

    FlickerPanel panel;
    std::mt19937_64 random(1);
    SearchConfig config = range(255);
    config.maxMoves = 5;
    SearchResult found = findOptimum(config, meterOf(panel, random));
    EXPECT_EQ(SearchOutcome::Limit, found.outcome);
    EXPECT_EQ(5u, found.moves);
    config = range(255);
    config.maxReadings = 10;
    found = findOptimum(config, meterOf(panel, random));
    EXPECT_EQ(SearchOutcome::Limit, found.outcome);
    EXPECT_EQ(10u, found.readings);
}

TEST(Search, refusesARangeWithoutRoom)
{
    const Probe probe = [](unsigned, unsigned n) { return std::vector<double>(n, 1.0); };
    EXPECT_THROW(findOptimum(range(0), probe), std::invalid_argument);
}

}  // namespace
}  // namespace ze::vcomcal
