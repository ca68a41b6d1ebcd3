// Board configuration parse and driver initialisation.

#include <ze/platform/vcom_board.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

const std::string kAllKeys =
    "[VCOM]\nTypeIdx = 4\nI2cBus = 2\nVcomAddr = 0xE0\nGpioAddr = 12\n"
    "GpioStatus = 0\nLdmFlag = 1\nI2cSwitchType = 1\n";

Lines missingMessages()
{
    Lines out;
    for (const char* key :
         {"TypeIdx", "I2cBus", "VcomAddr", "GpioAddr", "GpioStatus", "LdmFlag", "I2cSwitchType"}) {
        out.push_back(std::string("[vcom][") + key + "] get data separation error !\n");
    }
    return out;
}

class BoardConfig : public DriverTest {
protected:
    std::string fields() const
    {
        const V& d = *driver;
        return "type " + std::to_string(d.typeIdx) + " bus " + std::to_string(d.i2cBus) + " vcom " +
               std::to_string(d.vcomAddr) + " gpio " + std::to_string(d.gpioAddr) + " status " +
               std::to_string(d.gpioStatus) + " ldm " + std::to_string(d.ldmFlag) + " switch " +
               std::to_string(d.i2cSwitchType) + " loaded " + std::to_string(d.configLoaded);
    }

    // The platform's reading of the same file, in the driver's terms.
    static std::string platformFields()
    {
        const ze::platform::VcomBoardConfig c = ze::platform::readVcomBoard().config;
        return "type " + std::to_string(c.typeIdx) + " bus " + std::to_string(c.i2cBus) + " vcom " +
               std::to_string(c.vcomAddr) + " gpio " + std::to_string(c.gpioAddr) + " status " +
               std::to_string(c.gpioStatus) + " ldm " + std::to_string(c.ldmFlag) + " switch " +
               std::to_string(c.i2cSwitchType) + " loaded 1";
    }
};

TEST_F(BoardConfig, AFileWithAllSevenKeysFillsEveryFieldAndReportsEachKey)
{
    writeBoardFile(kAllKeys);
    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ("type 4 bus 2 vcom 224 gpio 12 status 0 ldm 1 switch 1 loaded 1", fields());
    EXPECT_EQ(
        "I [vcom][TypeIdx] is '4' !\n\nI [vcom][I2cBus] is '2' !\n\n"
        "I [vcom][VcomAddr] is '224' !\n\nI [vcom][GpioAddr] is '12' !\n\n"
        "I [vcom][GpioStatus] is '0' !\n\nI [vcom][LdmFlag] is '1' !\n\n"
        "I [vcom][I2cSwitchType] is '1' !\n\n",
        levelled());
}

TEST_F(BoardConfig, AMissingSwitchTypeDefaultsToNoSwitchWithoutFailingTheParse)
{
    writeBoardFile(kAllKeys.substr(0, kAllKeys.find("I2cSwitchType")));
    driver->i2cSwitchType = 1;
    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ(0, driver->i2cSwitchType);
    EXPECT_EQ(Lines{missingMessages().back()}, errors());
}

TEST_F(BoardConfig, WithoutAVcomSectionEveryKeyTakesItsDefaultAndTheParseFails)
{
    writeBoardFile("[PANEL]\nTypeIdx = 4\n");
    driver->typeIdx = 9;
    driver->vcomAddr = 0x10;
    driver->i2cSwitchType = 1;
    EXPECT_EQ(-1, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ("type 1 bus 1 vcom 232 gpio 168 status 1 ldm 0 switch 0 loaded 1", fields());
    EXPECT_EQ(missingMessages(), log.bodies());
}

TEST_F(BoardConfig, AMissingRequiredKeyFailsTheParseAndALaterParseForgetsEarlierValues)
{
    // I2cBus missing, later keys found: they must not clear the failure.
    writeBoardFile(
        "[VCOM]\nTypeIdx = 8\nVcomAddr = 0xE0\nGpioAddr = 12\nGpioStatus = 0\n"
        "LdmFlag = 1\nI2cSwitchType = 0\n");
    EXPECT_EQ(-1, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ(8, driver->typeIdx);
    writeBoardFile("[VCOM]\nI2cBus = 3\n");
    driver->Get_Vcom_DataSeparation();
    EXPECT_EQ("type 1 bus 3 vcom 232 gpio 168 status 1 ldm 0 switch 0 loaded 1", fields());
}

// The platform's board-file type must read every value as the driver does:
// tools and the simulated board act on what it reads.
TEST_F(BoardConfig, NumbersAreReadLikeStrtoulWithBaseZeroAndCutToTheFieldWidthByDriverAndPlatform)
{
    const struct {
        const char *key, *text, *fields, *printed;
    } cases[] = {
        {"VcomAddr", "0xE8", "vcom 232", "232"},
        {"VcomAddr", "0350", "vcom 232", "232"},
        {"VcomAddr", "0X1E8", "vcom 232", "232"},
        {"I2cBus", "09", "bus 0", "0"},
        {"I2cBus", "0x", "bus 0", "0"},
        {"TypeIdx", "abc", "type 0", "0"},
        {"TypeIdx", "7 ; tail", "type 7", "7"},
        {"TypeIdx", "+3", "type 3", "3"},
        {"GpioStatus", "-2", "status 4294967294", "-2"},
        {"GpioStatus", "4294967296", "status 4294967295", "-1"},
        {"GpioStatus", "-4294967296", "status 4294967295", "-1"},
        {"GpioStatus", "- 5", "status 0", "0"},
        {"I2cBus", "0x1FF", "bus 255", "255"},
        {"TypeIdx", " \t-1", "type -1", "-1"},
        {"LdmFlag", "99999999999999999999", "ldm 255", "255"},
        {"I2cSwitchType", "1e3", "switch 1", "1"},
    };
    for (const auto& c : cases) {
        writeBoardFile(std::string("[VCOM]\n") + c.key + " = " + c.text + "\n");
        resetRecords();
        driver->Get_Vcom_DataSeparation();
        EXPECT_NE(std::string::npos, fields().find(c.fields)) << c.text;
        EXPECT_EQ(fields(), platformFields()) << c.text;
        EXPECT_EQ(Lines{std::string("[vcom][") + c.key + "] is '" + c.printed + "' !\n\n"},
                  log.bodies(QOR_DEBUG_LEVEL_INFO));
    }
}

using DriverInit = DriverTest;

TEST_F(DriverInit, WithoutABoardFileOpensTheDefaultBusAndEveryInitParsesAndOpensAgain)
{
    board->addBus(1);
    EXPECT_EQ(0, driver->init());
    EXPECT_EQ(1, logged("Succeed to triggering initialization of VCOMIC driver!\n"));
    EXPECT_EQ("init", site("Succeed to triggering initialization of VCOMIC driver!\n"));
    EXPECT_EQ(missingMessages(), errors());
    writeBoardFile("[VCOM]\nI2cBus = 3\n");
    board->addBus(3);
    driver->init();
    EXPECT_EQ("open 1 mode 1, open 3 mode 1", steps());
}

TEST_F(DriverInit, AFailingOpenReportsTheBusThenTheStatusAndReturnsTheStatus)
{
    writeBoardFile("[VCOM]\nI2cBus = 2\n");
    board->addBus(2);
    board->failNth(Call::I2COpen, 1, 5);
    EXPECT_EQ(5, driver->init());
    const Lines errors = log.bodies(QOR_DEBUG_LEVEL_ERROR);
    EXPECT_EQ((Lines{"[VCOMIC] QEL_I2COpen 2 failed!\n",
                     "Fail to triggering initialization of VCOMIC driver,error code is 5!\n"}),
              Lines(errors.end() - 2, errors.end()));
    EXPECT_EQ(1, driver->configLoaded);
}

}  // namespace
}  // namespace ze::test
