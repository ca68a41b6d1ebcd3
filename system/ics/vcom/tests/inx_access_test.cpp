#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/models/innolux.h>

#include "driver_fixture.h"

namespace {

using ze::ic::VCOMICDriver;
using ze::sim::Call;
using ze::sim::ChipType;
using ze::sim::InnoluxBridge;
using ze::sim::PanelConfig;
using Bytes = std::vector<unsigned char>;

constexpr int kFault = -71;
constexpr unsigned short kSeed = 0xD200;

unsigned char crcOf(unsigned short seed, Bytes data)
{
    return VCOMICDriver::inx525_calc_crc(seed, data.data(), static_cast<unsigned char>(data.size()));
}

TEST(InnoluxCrc, MatchesTheChipsCheckValues)
{
    const struct {
        unsigned short seed;
        Bytes data;
        unsigned char crc;
    } cases[] = {
        {kSeed, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xB1},
        {kSeed, {'a', 'b', 'c'}, 0x17},
        {kSeed, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}, 0x4A},
        {kSeed, {}, 0xD2},
        {0x0000, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xA4},
        {0x3400, {}, 0x34},
    };
    for (const auto& c : cases) EXPECT_EQ(c.crc, crcOf(c.seed, c.data)) << std::hex << c.seed;
}

TEST(InnoluxCrc, TableHoldsTheCrcOfEveryIn518Record)
{
    for (unsigned int v = 0; v < 256; ++v) {
        const unsigned char vcom = static_cast<unsigned char>(v);
        EXPECT_EQ(crcOf(kSeed, {0x01, 0x89, 0x57, vcom}), ze::ic::crc[v]) << "entry " << v;
        EXPECT_EQ(ze::sim::In518Chip::recordCrc(vcom), ze::ic::crc[v]) << "entry " << v;
    }
    const unsigned char rows[][2] = {{0x00, 0x8A}, {0x01, 0xE3}, {0x02, 0x58}, {0x7F, 0x19},
                                     {0x80, 0x3F}, {0xAA, 0x69}, {0xAB, 0x00}, {0xFF, 0xAC}};
    for (const auto& row : rows) EXPECT_EQ(row[1], ze::ic::crc[row[0]]);
}

class InnoluxAccess : public ze::test::DriverTest {
protected:
    void SetUp() override
    {
        PanelConfig config;
        config.chip = ChipType::IN525;
        bridge = std::dynamic_pointer_cast<InnoluxBridge>(install(config).bridge);
        ASSERT_TRUE(bridge);
    }

    // Waits and transfers, without the transport's 1 ms pause in front of each.
    std::vector<std::string> steps() const
    {
        std::vector<std::string> out = events();
        out.erase(std::remove(out.begin(), out.end(), "sleep 1000"), out.end());
        return out;
    }

    long count(const std::string& line) const
    {
        const std::vector<std::string> all = events();
        return std::count(all.begin(), all.end(), line);
    }

    std::shared_ptr<InnoluxBridge> bridge;
};

TEST_F(InnoluxAccess, PassThroughCommandsGoToTheBridgeAndAlwaysSettle)
{
    const struct {
        int (VCOMICDriver::*command)();
        const char* write;
        bool open;
        const char* failure;
    } cases[] = {
        {&VCOMICDriver::inx525_pass_enable, "write 0xC2 [0xE7] EA 10 01", true,
         "INX Vcom enable1 error\n\n"},
        {&VCOMICDriver::inx525_pass_disable, "write 0xC2 [0xE7] EA 10 00", false,
         "INX Vcom Pass1Disable error\n\n"},
    };
    for (const auto& c : cases) {
        resetRecords();
        EXPECT_EQ(0, ((*driver).*c.command)());
        EXPECT_EQ(c.open, bridge->isOpen());
        EXPECT_EQ((std::vector<std::string>{std::string(c.write) + " -> 0", "sleep 20000"}), steps());

        resetRecords();
        board->failNth(Call::I2CWrite, 1, kFault);
        EXPECT_EQ(kFault, ((*driver).*c.command)());
        EXPECT_EQ(std::string(c.write) + " -> -71", steps().at(0));
        EXPECT_EQ(std::vector<uint64_t>({1000, 20000}), ze::test::waitDurations());
        EXPECT_EQ(c.failure, log.bodies(QOR_DEBUG_LEVEL_ERROR).back());
    }
}

TEST_F(InnoluxAccess, UnlockSendsEveryStepAndReportsOnlyTheReset)
{
    driver->inx525_pass_enable();
    resetRecords();
    EXPECT_EQ(0, driver->inx525_unlock());
    EXPECT_EQ((std::vector<std::string>{"write 0xE8 [0x38] B7 -> 0", "write 0xE8 [0x39] F6 -> 0",
                                        "write 0xE8 [0x49] 80 -> 0", "sleep 70000"}),
              steps());

    const struct {
        unsigned int failingWrite;
        int result;
        const char* message;
    } cases[] = {
        {1, 0, "INX Vcom bufUnlock1Command error\n\n"},
        {2, 0, "INX Vcom bufUnlock2Command error\n\n"},
        {3, kFault, "INX Vcom reset error\n\n"},
    };
    for (const auto& c : cases) {
        resetRecords();
        board->failNth(Call::I2CWrite, c.failingWrite, kFault);
        EXPECT_EQ(c.result, driver->inx525_unlock());
        const std::vector<std::string> all = events();
        EXPECT_EQ(3, std::count_if(all.begin(), all.end(), [](const std::string& e) {
                      return e.rfind("write 0xE8", 0) == 0;
                  }));
        EXPECT_EQ(c.message, log.bodies(QOR_DEBUG_LEVEL_ERROR).back());
    }
}

TEST_F(InnoluxAccess, CheckPassesOnlyOnTheOpenStatusAndWaitsThirtyMilliseconds)
{
    driver->inx525_pass_enable();
    const struct {
        InnoluxBridge::Status answer;
        bool readFails;
        int result;
        const char* status;
    } cases[] = {
        {{0x05, 0x25}, false, 0, "INX Vcom status 0x5 0x25\n\n"},
        {{0x05, 0x24}, false, -1, "INX Vcom status 0x5 0x24\n\n"},
        {{0x00, 0x00}, false, -1, "INX Vcom status 0x0 0x0\n\n"},
        {{}, true, kFault, "INX Vcom status 0x0 0x0\n\n"},
    };
    for (const auto& c : cases) {
        resetRecords();
        if (c.readFails) {
            board->failNth(Call::I2CRead, 1, kFault);
        } else {
            bridge->scriptStatus({c.answer});
        }
        EXPECT_EQ(c.result, driver->inx525_check());
        EXPECT_EQ(c.status, log.bodies(QOR_DEBUG_LEVEL_INFO).back());
        EXPECT_EQ(c.readFails, !log.bodies(QOR_DEBUG_LEVEL_ERROR).empty());
        EXPECT_EQ(std::vector<uint64_t>({1000, 15000, 15000}), ze::test::waitDurations());
    }
    EXPECT_EQ("INX Vcom read i2cStatus0 error\n\n", log.bodies(QOR_DEBUG_LEVEL_ERROR).back());
}

TEST_F(InnoluxAccess, HandshakeThroughOnTheFirstTryNeedsOneEnableAndOneCheck)
{
    driver->inx525_pass_through();
    EXPECT_EQ((std::vector<std::string>{"write 0xC2 [0xE7] EA 10 01 -> 0", "sleep 20000",
                                        "read 0xE8 [0xF0] 05 25 -> 0", "sleep 15000",
                                        "sleep 15000"}),
              steps());
    EXPECT_EQ("INX VCom I2C Through \n\n", log.bodies(QOR_DEBUG_LEVEL_INFO).back());
}

TEST_F(InnoluxAccess, HandshakeGivesUpSilentlyAfterTenFailedTries)
{
    bridge->scriptStatus(std::vector<InnoluxBridge::Status>(11, {0x05, 0x24}));
    driver->inx525_pass_through();
    EXPECT_EQ(10, count("write 0xC2 [0xE7] EA 10 01 -> 0"));
    EXPECT_EQ(10, count("write 0xC2 [0xE7] EA 10 00 -> 0"));
    EXPECT_EQ(10, count("read 0xE8 [0xF0] 05 24 -> 0"));
    const std::vector<std::string> info = log.bodies(QOR_DEBUG_LEVEL_INFO);
    EXPECT_EQ(info.end(), std::find(info.begin(), info.end(), "INX VCom I2C Through \n\n"));
    EXPECT_TRUE(log.bodies(QOR_DEBUG_LEVEL_ERROR).empty());
    EXPECT_EQ(10u * (1000 + 20000 + 1000 + 30000 + 1000 + 20000), ze::test::nowUs());
}

struct Dispatch {
    ChipType chip;
    const char* name;
};

void PrintTo(const Dispatch& param, std::ostream* os)
{
    *os << param.name;
}

class InnoluxDispatch : public ze::test::DriverTest, public ::testing::WithParamInterface<Dispatch> {};

TEST_P(InnoluxDispatch, KeepsOnlyASavedValueAcrossAPowerCycle)
{
    PanelConfig config;
    config.chip = GetParam().chip;
    install(config);
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x85));
    EXPECT_EQ(0x85, driver->u1DrvReadVcom());
    board->powerCycle();
    EXPECT_EQ(0x80, driver->u1DrvReadVcom());

    EXPECT_EQ(0, driver->u1DrvSaveVcom(0x142));
    board->powerCycle();
    EXPECT_EQ(0x42, driver->u1DrvReadVcom());
    const std::string chip = GetParam().name;
    const std::string update = "[DR_VCOM]VCOM " + chip + " Update success .\n",
                      read = "[DR_VCOM]VCOM " + chip + " read success .\n",
                      save = "[DR_VCOM] " + chip + " save success .\n";
    std::vector<std::string> outcomes;
    for (const std::string& m : log.bodies(QOR_DEBUG_LEVEL_INFO)) {
        if (m.find(" success .\n") != std::string::npos) outcomes.push_back(m);
    }
    EXPECT_EQ((std::vector<std::string>{update, read, read, save, read}), outcomes);
}

INSTANTIATE_TEST_SUITE_P(BothChips, InnoluxDispatch,
                         ::testing::Values(Dispatch{ChipType::IN525, "IN525"},
                                           Dispatch{ChipType::IN518, "IN518"}),
                         [](const ::testing::TestParamInfo<Dispatch>& info) { return info.param.name; });

}  // namespace
