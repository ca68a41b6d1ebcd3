// Register transport and the I2C switch.

#include <ze/sim/register_file.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;

class Transport : public DriverTest {
protected:
    Transport()
    {
        board->addBus(1);
        board->attach(1, 0xE8, std::make_shared<ze::sim::RegisterFile>());
        driver->i2cBus = 1;
    }
};

TEST_F(Transport, ANullBufferIsRefusedWithoutWaitOrBusAccess)
{
    EXPECT_EQ(-1, driver->writeNumBytes(0xE8, 1, 0x10, nullptr, 1));
    EXPECT_EQ(-1, driver->readNumBytes(0xE8, 1, 0x10, nullptr, 1));
    EXPECT_EQ("", steps());
    EXPECT_EQ((std::vector<std::string>{"[VCOMIC] pBuf is null!!\n", "[VCOMIC] pBuf is null!!\n"}),
              log.bodies(kError));
}

TEST_F(Transport, OnlyTheLowByteOfTheSubAddressReachesTheBusButFailuresPrintAllOfIt)
{
    unsigned char value = 0x5A;
    board->failMatching(0xE8, 0x25, -5);
    EXPECT_EQ(-5, driver->writeNumBytes(0xE8, 1, 0x125, &value, 1));
    EXPECT_EQ("write 0xE8 [0x25] 5A -> -5", steps());
    EXPECT_EQ((std::vector<std::string>{"[VCOMIC] I2C write fail, u8devAddr = 0xe8.\n",
                                        "[VCOMIC] I2C write fail, iic_bus = 0x1.\n",
                                        "[VCOMIC] I2C write fail, u32SubAddr = 0x125.\n",
                                        "[VCOMIC] I2C write fail, regAddrCount = 0x1.\n",
                                        "[VCOMIC] I2C write fail, value = 0x5a.\n",
                                        "[VCOMIC] QEL_I2CWrite fail, ret = -5.\n"}),
              log.bodies(kError));
}

class I2cSwitch : public DriverTest {
protected:
    I2cSwitch() { board->addGpio(0, 0); }
};

TEST_F(I2cSwitch, OnlySwitchTypeOneDrivesGpioZeroHighForAnyNonZeroArgumentAndLowForZero)
{
    for (unsigned char type : {0, 2, 1}) {
        driver->i2cSwitchType = type;
        EXPECT_EQ(0, driver->Set_I2c_Switch(7));
        EXPECT_EQ(0, driver->Set_I2c_Switch(0));
    }
    EXPECT_EQ("gpio 0=1, gpio 0=0", steps());
}

TEST_F(I2cSwitch, AFailingGpioIsReportedAndItsStatusReturned)
{
    driver->i2cSwitchType = 1;
    board->failNth(Call::GpioSetValue, 1, 3);
    EXPECT_EQ(3, driver->Set_I2c_Switch(1));
    EXPECT_EQ((std::vector<std::string>{"[DR_VCOM]setGpio fail.\n"}), log.bodies(kError));
}

}  // namespace
}  // namespace ze::test
