// Board configuration parse and driver initialisation.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using ze::sim::Call;

constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;
constexpr std::uint32_t kInfo = QOR_DEBUG_LEVEL_INFO;

const char* const kKeys[] = {"TypeIdx",    "I2cBus",  "VcomAddr",     "GpioAddr",
                             "GpioStatus", "LdmFlag", "I2cSwitchType"};

std::vector<std::string> missingMessages()
{
    std::vector<std::string> out;
    for (const char* key : kKeys) {
        out.push_back(std::string("[vcom][") + key + "] get data separation error !\n");
    }
    return out;
}

class BoardConfig : public DriverTest {};

TEST_F(BoardConfig, AFileWithAllSevenKeysFillsEveryFieldAndReportsEachKey)
{
    writeBoardFile(
        "[VCOM]\nTypeIdx = 4\nI2cBus = 2\nVcomAddr = 0xE0\nGpioAddr = 12\nGpioStatus = 0\n"
        "LdmFlag = 1\nI2cSwitchType = 1\n");

    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());

    EXPECT_EQ(1, driver->configLoaded);
    EXPECT_EQ(4, driver->typeIdx);
    EXPECT_EQ(2, driver->i2cBus);
    EXPECT_EQ(0xE0, driver->vcomAddr);
    EXPECT_EQ(12, driver->gpioAddr);
    EXPECT_EQ(0u, driver->gpioStatus);
    EXPECT_EQ(1, driver->ldmFlag);
    EXPECT_EQ(1, driver->i2cSwitchType);
    EXPECT_EQ((std::vector<std::string>{
                  "[vcom][TypeIdx] is '4' !\n\n", "[vcom][I2cBus] is '2' !\n\n",
                  "[vcom][VcomAddr] is '224' !\n\n", "[vcom][GpioAddr] is '12' !\n\n",
                  "[vcom][GpioStatus] is '0' !\n\n", "[vcom][LdmFlag] is '1' !\n\n",
                  "[vcom][I2cSwitchType] is '1' !\n\n"}),
              log.bodies(kInfo));
    EXPECT_TRUE(log.bodies(kError).empty());
}

TEST_F(BoardConfig, AMissingSwitchTypeDefaultsToNoSwitchWithoutFailingTheParse)
{
    writeBoardFile(
        "[VCOM]\nTypeIdx = 4\nI2cBus = 2\nVcomAddr = 0xE0\nGpioAddr = 12\nGpioStatus = 0\n"
        "LdmFlag = 1\n");
    driver->i2cSwitchType = 1;

    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());

    EXPECT_EQ(0, driver->i2cSwitchType);
    EXPECT_EQ((std::vector<std::string>{"[vcom][I2cSwitchType] get data separation error !\n"}),
              log.bodies(kError));
}

TEST_F(BoardConfig, WithoutAVcomSectionEveryKeyTakesItsDefaultAndTheParseFails)
{
    writeBoardFile("[PANEL]\nTypeIdx = 4\n");
    driver->typeIdx = 9;
    driver->vcomAddr = 0x10;
    driver->i2cSwitchType = 1;

    EXPECT_EQ(-1, driver->Get_Vcom_DataSeparation());

    EXPECT_EQ(1, driver->configLoaded);
    EXPECT_EQ(1, driver->typeIdx);
    EXPECT_EQ(1, driver->i2cBus);
    EXPECT_EQ(0xE8, driver->vcomAddr);
    EXPECT_EQ(0xA8, driver->gpioAddr);
    EXPECT_EQ(1u, driver->gpioStatus);
    EXPECT_EQ(0, driver->ldmFlag);
    EXPECT_EQ(0, driver->i2cSwitchType);
    EXPECT_EQ(missingMessages(), log.bodies(kError));
    EXPECT_TRUE(log.bodies(kInfo).empty());
}

TEST_F(BoardConfig, AnyMissingRequiredKeyFailsTheParseWhateverComesAfterIt)
{
    // TypeIdx found, I2cBus missing, the rest found: a later found key must not
    // clear the failure.
    writeBoardFile("[VCOM]\nTypeIdx = 4\nVcomAddr = 0xE0\nGpioAddr = 12\nGpioStatus = 0\n"
                   "LdmFlag = 1\nI2cSwitchType = 0\n");
    EXPECT_EQ(-1, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ(1, driver->i2cBus);
}

TEST_F(BoardConfig, ALaterParseOfAShorterFileReplacesEarlierValuesWithDefaults)
{
    writeBoardFile("[VCOM]\nTypeIdx = 8\nI2cBus = 3\n");
    driver->Get_Vcom_DataSeparation();
    ASSERT_EQ(8, driver->typeIdx);

    writeBoardFile("[VCOM]\nI2cBus = 3\n");
    driver->Get_Vcom_DataSeparation();
    EXPECT_EQ(1, driver->typeIdx);
    EXPECT_EQ(3, driver->i2cBus);
}

struct NumberCase {
    const char* key;
    const char* text;
    unsigned int stored;
    const char* printed;
};

class ConfigNumbers : public DriverTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(ConfigNumbers, AreReadLikeStrtoulWithBaseZeroAndCutToTheFieldWidth)
{
    const NumberCase& c = GetParam();
    writeBoardFile(std::string("[VCOM]\n") + c.key + " = " + c.text + "\n");

    driver->Get_Vcom_DataSeparation();

    const std::string key = c.key;
    unsigned int stored = 0;
    if (key == "TypeIdx") stored = static_cast<unsigned int>(driver->typeIdx);
    if (key == "I2cBus") stored = driver->i2cBus;
    if (key == "VcomAddr") stored = driver->vcomAddr;
    if (key == "GpioStatus") stored = driver->gpioStatus;
    EXPECT_EQ(c.stored, stored);
    const std::vector<std::string> info = log.bodies(kInfo);
    ASSERT_EQ(1u, info.size());
    EXPECT_EQ("[vcom][" + key + "] is '" + c.printed + "' !\n\n", info[0]);
}

INSTANTIATE_TEST_SUITE_P(
    BoardConfig, ConfigNumbers,
    ::testing::Values(NumberCase{"VcomAddr", "0xE8", 232, "232"},
                      NumberCase{"VcomAddr", "232", 232, "232"},
                      NumberCase{"VcomAddr", "0350", 232, "232"},
                      NumberCase{"VcomAddr", "0X1E8", 232, "232"},
                      NumberCase{"I2cBus", "010", 8, "8"},
                      NumberCase{"I2cBus", "09", 0, "0"},
                      NumberCase{"I2cBus", "0x", 0, "0"},
                      NumberCase{"TypeIdx", "abc", 0, "0"},
                      NumberCase{"TypeIdx", "7 ; comment-like tail", 7, "7"},
                      NumberCase{"TypeIdx", "+3", 3, "3"},
                      NumberCase{"GpioStatus", "-1", 4294967295u, "-1"},
                      NumberCase{"GpioStatus", "-2", 4294967294u, "-2"},
                      NumberCase{"GpioStatus", "4294967296", 4294967295u, "-1"},
                      NumberCase{"GpioStatus", "99999999999999999999999", 4294967295u, "-1"},
                      NumberCase{"GpioStatus", "-4294967296", 4294967295u, "-1"},
                      NumberCase{"GpioStatus", "- 5", 0, "0"},
                      NumberCase{"GpioStatus", "\"5\"", 0, "0"}));

TEST_F(BoardConfig, ANonNumericTypeFoundInTheFileStillCountsAsFound)
{
    writeBoardFile("[VCOM]\nTypeIdx = abc\nI2cBus = 1\nVcomAddr = 0xE8\nGpioAddr = 1\n"
                   "GpioStatus = 1\nLdmFlag = 0\n");
    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());
    EXPECT_EQ(0, driver->typeIdx);
}

class DriverInit : public DriverTest {};

TEST_F(DriverInit, WithoutABoardFileOpensTheDefaultBusAndSucceeds)
{
    board->addBus(1);

    EXPECT_EQ(0, driver->init());

    EXPECT_EQ((std::vector<std::string>{"open 1 mode 1 -> 0"}), events());
    const std::vector<std::string> info = log.bodies(kInfo);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ("Succeed to triggering initialization of VCOMIC driver!\n", info.back());
    EXPECT_EQ(missingMessages(), log.bodies(kError));
}

TEST_F(DriverInit, AFailingOpenReportsTheBusThenTheStatusAndReturnsTheStatus)
{
    writeBoardFile("[VCOM]\nI2cBus = 2\n");
    board->addBus(2);
    board->failNth(Call::I2COpen, 1, 5);
    log.clear();

    EXPECT_EQ(5, driver->init());

    std::vector<std::string> errors = log.bodies(kError);
    ASSERT_GE(errors.size(), 2u);
    errors.erase(errors.begin(), errors.end() - 2);
    EXPECT_EQ((std::vector<std::string>{
                  "[VCOMIC] QEL_I2COpen 2 failed!\n",
                  "Fail to triggering initialization of VCOMIC driver,error code is 5!\n"}),
              errors);
    EXPECT_EQ(1, driver->configLoaded);
}

TEST_F(DriverInit, EveryInitParsesAgainAndOpensAgain)
{
    board->addBus(1);
    driver->init();
    writeBoardFile("[VCOM]\nI2cBus = 3\n");
    board->addBus(3);

    driver->init();

    EXPECT_EQ((std::vector<std::string>{"open 1 mode 1 -> 0", "open 3 mode 1 -> 0"}), events());
}

TEST_F(DriverInit, MessagesCarryTheSourceFileLineAndFunction)
{
    board->addBus(1);
    driver->init();
    const std::vector<LogMessage> messages = log.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(0u, messages.back().text.rfind("VCOMICdriver.cpp:", 0));
    EXPECT_NE(std::string::npos, messages.back().text.find(":init(): Succeed"));
}

TEST_F(DriverInit, DisabledLevelsAreNeitherFormattedNorOutput)
{
    board->addBus(1);
    {
        LogCapture errorsOnly(QOR_DEBUG_LEVEL_ERROR);
        driver->init();
        for (const LogMessage& m : errorsOnly.messages()) EXPECT_EQ(kError, m.level);
        EXPECT_EQ(7u, errorsOnly.messages().size());
    }
}

TEST_F(DriverInit, ReservedSlotsChangeNothing)
{
    writeBoardFile("[VCOM]\nTypeIdx = 4\n");
    driver->Get_Vcom_DataSeparation();
    resetRecords();

    driver->reserved1();
    driver->reserved2();

    EXPECT_EQ(4, driver->typeIdx);
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(log.messages().empty());
}

}  // namespace
}  // namespace test
}  // namespace ze
