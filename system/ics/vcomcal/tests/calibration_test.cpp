#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/sim/models/auo.h>
#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/flicker_panel.h>

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

    test::SimRig rig{ze::sim::ChipType::AUO};
    AuoChip& auo;
    FlickerPanel panel;
    CalibrationConfig config;
};

TEST_F(Calibration, savesAndVerifiesTheBestValueWithEveryUpdateSettledOnTheVirtualClock)
{
    auto meter = simulatedMeter(panel, 1, heldValueByDriverRead(rig.vcom()));
    const CalibrationReport report = calibrate(rig.vcom(), *meter, config);

    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_NEAR(report.best, kBest, 1);
    EXPECT_TRUE(report.saved && report.verified);
    EXPECT_EQ(report.best, auo.nvm());
    EXPECT_EQ(1u, auo.saveCount());
    EXPECT_EQ(report.updates * kDefaultSettleUs, report.settleUs);
    EXPECT_EQ(report.elapsedUs, ze::test::nowUs());
    EXPECT_EQ(0, rig.board().freerunVfreq());  // the pattern is off again
}

// Fails at the nth reading.
class BrokenMeter : public Meter {
public:
    BrokenMeter(Meter& good, unsigned failAt) : good_(good), failAt_(failAt) {}
    double read(unsigned value) override
    {
        if (++readings_ == failAt_) throw MeterError("meter 'probe' failed (exit status 2)");
        return good_.read(value);
    }

private:
    Meter& good_;
    unsigned failAt_;
    unsigned readings_ = 0;
};

TEST_F(Calibration, aFailingMeterOrUpdateLeavesThePanelAtItsStartAndSavesNothing)
{
    struct Case {
        unsigned meterFailsAt;  // 0: never
        unsigned writeFailsAt;  // 0: never
        const char* error;
    };
    const Case cases[] = {
        {1, 0, "meter 'probe' failed (exit status 2)"},
        {14, 0, "meter 'probe' failed (exit status 2)"},
        {0, 4, "update to "},
    };
    for (const Case& c : cases) {
        auto good = simulatedMeter(panel, 1, heldValueByDriverRead(rig.vcom()));
        BrokenMeter meter(*good, c.meterFailsAt);
        if (c.writeFailsAt) rig.board().failNth(ze::sim::Call::I2CWrite, c.writeFailsAt, -EIO);
        const CalibrationReport report = calibrate(rig.vcom(), meter, config);

        EXPECT_FALSE(report.ok);
        EXPECT_NE(std::string::npos, report.error.find(c.error)) << report.error;
        EXPECT_TRUE(report.restored);
        EXPECT_FALSE(report.saved);
        EXPECT_EQ(AuoChip::kFactorySetting, auo.setting());
        EXPECT_EQ(0u, auo.saveCount());
        EXPECT_EQ(0, rig.board().freerunVfreq());
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
