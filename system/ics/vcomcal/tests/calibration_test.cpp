#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/sim/flicker_panel.h>
#include <ze/sim/models/auo.h>
#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/report.h>

#include "sim_rig.h"

namespace ze::vcomcal {
namespace {

using ze::sim::AuoChip;

constexpr double kOptimum = 150.4;
constexpr unsigned kBest = 150;

class Calibration : public ::testing::Test {
protected:
    Calibration() : auo(*std::dynamic_pointer_cast<AuoChip>(rig.panel().chip))
    {
        config.chip = ze::ic::catalogue::byName("auo");
        config.clock = ze::test::nowUs;
        panel.optimum = kOptimum;
        ze::test::resetClock();
    }

    test::SimRig rig{"auo"};
    AuoChip& auo;
    FlickerPanel panel;
    CalibrationConfig config;
};

TEST_F(Calibration, savesAndVerifiesTheBestValueWithEveryUpdateSettledOnTheVirtualClock)
{
    auto meter = simulatedMeter(panel, 1, heldValueOf(rig.panel()));
    const CalibrationReport report = calibrate(rig.vcom(), *meter, config);

    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_NEAR(report.best, kBest, 1);
    EXPECT_TRUE(report.confirmed);
    const nlohmann::json json = toJson(report);
    for (const char* key :
         {"reason", "range", "raw", "noise", "confirmation", "at_range_end", "model", "line"}) {
        EXPECT_TRUE(json.contains(key)) << key;
    }
    EXPECT_EQ(report.best, json["confirmation"]["best"]["value"].get<unsigned>());
    EXPECT_TRUE(report.saved && report.verified);
    EXPECT_EQ(report.best, auo.nvm());
    EXPECT_EQ(1u, auo.saveCount());
    EXPECT_EQ(report.updates * kDefaultSettleUs, report.settleUs);
    EXPECT_EQ(report.elapsedUs, ze::test::nowUs());
    EXPECT_EQ(0, rig.board().freerunVfreq());  // the pattern is off again
}

// A failing meter is covered end to end by vcomctl's calibrate test.
TEST_F(Calibration, aFailingUpdateLeavesThePanelAtItsStartAndSavesNothing)
{
    auto meter = simulatedMeter(panel, 1, heldValueOf(rig.panel()));
    rig.board().failNth(ze::sim::Call::I2CWrite, 4, -EIO);
    const CalibrationReport report = calibrate(rig.vcom(), *meter, config);

    EXPECT_FALSE(report.ok);
    EXPECT_NE(std::string::npos, report.error.find("update to ")) << report.error;
    EXPECT_TRUE(report.restored);
    EXPECT_FALSE(report.saved);
    EXPECT_EQ(AuoChip::kFactorySetting, auo.setting());
    EXPECT_EQ(0u, auo.saveCount());
    EXPECT_EQ(0, rig.board().freerunVfreq());
}

// A meter stuck at one number, or the panel's, counting its readings.
class CountingMeter : public Meter {
public:
    CountingMeter(std::unique_ptr<Meter> inner) : inner_(std::move(inner)) {}
    double read(unsigned value) override { return ++reads, inner_ ? inner_->read(value) : -1.0; }
    unsigned reads = 0;

private:
    std::unique_ptr<Meter> inner_;
};

TEST_F(Calibration, anyRunWithoutAConfirmedMinimumEndsAtTheStartValueWithNothingSaved)
{
    struct Case {
        const char* reason;
        bool stuck;
        unsigned maxMoves;
        unsigned stopAfter;  // readings; 0: never
    };
    for (const Case& c : {Case{"no_minimum", true, 20, 0}, Case{"limit", false, 6, 0},
                          Case{"interrupted", false, 20, 7}}) {
        CountingMeter meter(c.stuck ? nullptr : simulatedMeter(panel, 1, heldValueOf(rig.panel())));
        config.search.maxMoves = c.maxMoves;
        config.stopRequested = [&] { return c.stopAfter != 0 && meter.reads >= c.stopAfter; };
        const CalibrationReport report = calibrate(rig.vcom(), meter, config);

        EXPECT_FALSE(report.ok) << c.reason;
        EXPECT_EQ(c.reason, report.reason) << report.error;
        EXPECT_TRUE(report.restored && !report.saved) << c.reason;
        EXPECT_EQ(AuoChip::kFactorySetting, auo.setting()) << c.reason;
        EXPECT_EQ(0u, auo.saveCount()) << c.reason;
        if (c.stopAfter != 0) {
            EXPECT_EQ(c.stopAfter, meter.reads);
        }
        const nlohmann::json json = toJson(report);
        EXPECT_EQ(report.readings, json["raw"].size()) << c.reason;
        EXPECT_FALSE(json["confirmed"].get<bool>()) << c.reason;
    }
}

TEST(LineStats, roundTripsThroughItsStateFileAndRefusesAMalformedOne)
{
    const std::string path = std::filesystem::temp_directory_path() / "vcomcal-line-test.json";
    std::string error;
    std::remove(path.c_str());
    std::optional<LineStats> line = LineStats::load(path, &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(0u, line->count());
    for (double optimum : {120.0, 130.0, 125.0, 135.0}) line->add(optimum);
    ASSERT_TRUE(line->save(path, &error)) << error;

    std::optional<LineStats> back = LineStats::load(path, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(4u, back->count());
    EXPECT_DOUBLE_EQ(127.5, back->mean());
    EXPECT_DOUBLE_EQ(125.0 / 3, back->variance());
    back->add(127.5);  // the sum of squares survived, not only the variance
    EXPECT_DOUBLE_EQ(125.0 / 4, back->variance());

    std::ofstream(path) << "{\"count\": 3, \"mean\": \"x\"}";
    EXPECT_FALSE(LineStats::load(path, &error));
    EXPECT_NE(std::string::npos, error.find("malformed line state " + path)) << error;
    std::remove(path.c_str());
}

}  // namespace
}  // namespace ze::vcomcal
