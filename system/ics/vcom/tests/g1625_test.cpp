#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ze/sim/models/g1625.h>

#include "driver_fixture.h"

namespace {

using ::testing::ElementsAre;
using ze::sim::G1625;

class G1625Test : public ze::test::DriverTest {
protected:
    void SetUp() override { installAt(0xE8); }

    void installAt(std::uint8_t vcomAddr)
    {
        config.chip = ze::sim::ChipType::G1625;
        config.vcomAddr = vcomAddr;
        chip = std::dynamic_pointer_cast<G1625>(install(config).chip);
        ASSERT_NE(nullptr, chip);
    }

    ze::sim::PanelConfig config;
    std::shared_ptr<G1625> chip;
};

TEST_F(G1625Test, EveryByteValueRoundTripsWithoutItsBit7)
{
    for (unsigned int v = 0; v <= 255; ++v) {
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(v)) << v;
        EXPECT_EQ(v & 0x7F, driver->u1DrvReadVcom()) << v;
        ASSERT_EQ(0, driver->u1DrvSaveVcom(v)) << v;
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(v + 1)) << v;
        board->powerCycle();
        EXPECT_EQ(v & 0x7F, driver->u1DrvReadVcom()) << v;
    }
}

struct Command {
    unsigned short value;
    const char* update;  // command byte, as the timeline shows it
    const char* save;
    int setting;
};

TEST_F(G1625Test, UpdateAndSaveSendTheSettingWithTheirFlag)
{
    const Command cases[] = {
        {0, "01", "00", 0},       {127, "FF", "FE", 127}, {128, "01", "00", 0},
        {200, "91", "90", 72},    {0x1234, "69", "68", 52},
    };
    for (const Command& c : cases) {
        resetRecords();
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value));
        EXPECT_THAT(events(), ElementsAre("sleep 20000", "sleep 1000",
                                          std::string("write 0xE8 [] ") + c.update + " -> 0"));
        EXPECT_EQ(c.setting, chip->setting());

        resetRecords();
        ASSERT_EQ(0, driver->u1DrvSaveVcom(c.value));
        EXPECT_THAT(events(), ElementsAre("sleep 20000", "sleep 20000", "sleep 1000",
                                          std::string("write 0xE8 [] ") + c.save + " -> 0",
                                          "sleep 550000"));
        EXPECT_EQ(c.setting, chip->nvmSetting());
    }
}

TEST_F(G1625Test, RoutinesLogTheSettingAndTheirByte)
{
    unsigned short value = 200;
    ASSERT_EQ(0, driver->IC_G1625_Updata(&value));
    ASSERT_EQ(0, driver->IC_G1625_Read(&value));
    EXPECT_EQ(72, value);
    value = 200;
    ASSERT_EQ(0, driver->IC_G1625_Save(&value));
    EXPECT_EQ(200, value);
    EXPECT_THAT(log.bodies(QOR_DEBUG_LEVEL_INFO),
                ElementsAre("[DR_VCOM]vcomdata : 200, writebuf : 0x91 .\n",
                            "[DR_VCOM]VCOMIC adjust Vcom OK : 200.\n",
                            "[DR_VCOM]readbuf: 0x91 getVcomvalue OK: 72.\n",
                            "[DR_VCOM]vcomdata : 200, savebuf : 0x90 .\n",
                            "[DR_VCOM]save Vcom 200 OK.\n"));
    EXPECT_THAT(log.bodies(QOR_DEBUG_LEVEL_ERROR), ::testing::IsEmpty());
}

TEST_F(G1625Test, ReadDropsTheFlagBitAtTheReadAddress)
{
    unsigned short value = 0;
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(127));  // unsaved: status bit 0 set
    resetRecords();
    ASSERT_EQ(0, driver->IC_G1625_Read(&value));
    EXPECT_EQ(127, value);
    ASSERT_EQ(0, driver->u1DrvSaveVcom(127));
    ASSERT_EQ(0, driver->IC_G1625_Read(&value));
    EXPECT_EQ(127, value);
    EXPECT_THAT(events(), ElementsAre("sleep 20000", "sleep 1000", "read 0xE9 [] FF -> 0",
                                      "sleep 20000", "sleep 20000", "sleep 1000",
                                      "write 0xE8 [] FE -> 0", "sleep 550000", "sleep 20000",
                                      "sleep 1000", "read 0xE9 [] FE -> 0"));
}

TEST_F(G1625Test, ReadAddressWrapsFrom0xFFTo0x00)
{
    installAt(0xFF);
    auto neighbour = std::make_shared<G1625>(0x11);
    board->attach(config.bus, 0x00, neighbour);
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(5));
    EXPECT_EQ(0x11, driver->u1DrvReadVcom());
    EXPECT_EQ(5, chip->setting());
    EXPECT_THAT(events(), ElementsAre("sleep 20000", "sleep 1000", "write 0xFF [] 0B -> 0",
                                      "sleep 20000", "sleep 1000", "read 0x00 [] 22 -> 0"));
}

struct Fault {
    int (ze::ic::VCOMICDriver::*routine)(unsigned short*);
    ze::sim::Call call;
    std::vector<std::string> events;
    std::string message;
};

TEST_F(G1625Test, FailedTransferReturnsItsStatusAtOnce)
{
    using ze::ic::VCOMICDriver;
    using ze::sim::Call;
    const Fault faults[] = {
        {&VCOMICDriver::IC_G1625_Updata, Call::I2CWrite,
         {"sleep 20000", "sleep 1000", "write 0xE8 [] 0B -> -6"},
         "[DR_VCOM]VCOMIC adjust Vcom fail.\n"},
        {&VCOMICDriver::IC_G1625_Save, Call::I2CWrite,
         {"sleep 20000", "sleep 20000", "sleep 1000", "write 0xE8 [] 0A -> -6"},
         "[DR_VCOM]save Vcom fail.\n"},
        {&VCOMICDriver::IC_G1625_Read, Call::I2CRead,
         {"sleep 20000", "sleep 1000", "read 0xE9 []  -> -6"},
         "[DR_VCOM]getVcomvalue fail!!\n"},
    };
    for (const Fault& f : faults) {
        resetRecords();
        board->failNth(f.call, 1, ze::sim::kAddressNack);
        unsigned short value = 5;
        EXPECT_EQ(ze::sim::kAddressNack, (driver.get()->*f.routine)(&value));
        EXPECT_EQ(5, value);
        EXPECT_EQ(f.events, events());
        EXPECT_EQ(f.message, log.bodies(QOR_DEBUG_LEVEL_ERROR).back());
        EXPECT_THAT(log.bodies(QOR_DEBUG_LEVEL_INFO),
                    ::testing::Each(::testing::HasSubstr("vcomdata")));
    }
    EXPECT_EQ(G1625::kFactorySetting, chip->setting());
    EXPECT_EQ(0u, chip->nvmWrites());
}

TEST(G1625Model, TakesExactlyOneByteEachWay)
{
    G1625 chip(0x20);
    const std::uint8_t two[] = {0x0B, 0x0B};
    std::uint8_t out[2] = {};
    EXPECT_EQ(ze::sim::kDataNack, chip.write(two, 0));
    EXPECT_EQ(ze::sim::kDataNack, chip.write(two, 2));
    EXPECT_EQ(ze::sim::kDataNack, chip.read(out, 2));
    EXPECT_EQ(0x20, chip.setting());
    EXPECT_EQ(0, chip.read(out, 1));
    EXPECT_EQ(0x40, out[0]);
}

TEST(G1625Model, ReloadsTheSettingFromNvmOnPowerUp)
{
    G1625 chip(0x20);
    const std::uint8_t store9 = 9 << 1, set3 = (3 << 1) | G1625::kSetFlag;
    ASSERT_EQ(0, chip.write(&store9, 1));
    ASSERT_EQ(0, chip.write(&set3, 1));
    EXPECT_EQ(3, chip.setting());
    chip.powerCycle();
    EXPECT_EQ(9, chip.setting());
    EXPECT_EQ(9, chip.nvmSetting());
    EXPECT_EQ(1u, chip.nvmWrites());
}

}  // namespace
