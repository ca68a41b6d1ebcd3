// Read, update and save dispatch to the fitted chip.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/platform/debug_sink.h>
#include <ze/sim/register_file.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using ze::sim::Call;

constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;
constexpr std::uint32_t kInfo = QOR_DEBUG_LEVEL_INFO;

std::string boardFile(int typeIdx, int switchType = 0)
{
    return "[VCOM]\nTypeIdx = " + std::to_string(typeIdx) +
           "\nI2cBus = 1\nVcomAddr = 0xE8\nGpioAddr = 0xA8\nGpioStatus = 1\nLdmFlag = 0\n"
           "I2cSwitchType = " +
           std::to_string(switchType) + "\n";
}

// A KD532P-shaped register file: no gate, setting at 0x01.
class Dispatch : public DriverTest {
protected:
    Dispatch()
    {
        board->addBus(1);
        board->addGpio(0, 0);
        board->attach(1, 0xE8, chip);
    }
    void configure(int typeIdx, int switchType = 1)
    {
        writeBoardFile(boardFile(typeIdx, switchType));
        driver->Get_Vcom_DataSeparation();
        resetRecords();
    }
    std::vector<std::string> gpioEvents() const
    {
        std::vector<std::string> out;
        for (const std::string& e : events()) {
            if (e.rfind("gpio", 0) == 0) out.push_back(e);
        }
        return out;
    }
    std::shared_ptr<ze::sim::RegisterFile> chip = std::make_shared<ze::sim::RegisterFile>();
};

class UnsupportedType : public Dispatch, public ::testing::WithParamInterface<int> {};

TEST_P(UnsupportedType, SwitchesOnAndOffAroundNoChipRoutineWithTheReadAndSaveSayingSo)
{
    configure(GetParam());
    const std::vector<std::string> switched = {"gpio 0=1 -> 0", "gpio 0=0 -> 0"};
    const std::vector<std::string> choose = {"[DR_VCOM]Please choice the vcom IC.\n"};

    log.clear();
    EXPECT_EQ(0, driver->u1DrvReadVcom());
    ASSERT_FALSE(log.bodies(kInfo).empty());
    EXPECT_EQ(choose[0], log.bodies(kInfo).back());
    EXPECT_EQ(switched, gpioEvents());

    resetRecords();
    EXPECT_EQ(-1, driver->u1DrvUpdataVcom(5));
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(switched, events());

    resetRecords();
    EXPECT_EQ(-1, driver->u1DrvSaveVcom(5));
    EXPECT_EQ(choose, log.bodies(kInfo));
    EXPECT_EQ(switched, events());
}

INSTANTIATE_TEST_SUITE_P(Dispatch, UnsupportedType, ::testing::Values(0, 2, 5, 11, -1));

TEST_F(Dispatch, UpdateAndSaveBeforeAnyParseRefuseWithoutTouchingSwitchOrChip)
{
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x40));
    EXPECT_EQ(0, driver->u1DrvSaveVcom(0x40));

    EXPECT_TRUE(events().empty());
    EXPECT_EQ((std::vector<std::string>{"[vcom][error] get data separation error !\n",
                                        "[vcom][error] get data separation error !\n"}),
              log.bodies(kError));
}

TEST_F(Dispatch, TheReadParsesAgainSoAnEditedTypeTakesEffectAtTheNextRead)
{
    configure(10, 0);
    chip->setReg(0x01, 0x33);
    writeBoardFile(boardFile(4, 0));

    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x44));  // still the old type: one write to 0x01
    EXPECT_EQ(0x44, chip->reg(0x01));
    driver->u1DrvReadVcom();
    EXPECT_EQ(4, driver->typeIdx);
}

TEST_F(Dispatch, AReadWithoutAVcomSectionReportsTheParseAndReadsTheDefaultChip)
{
    writeBoardFile("[PANEL]\n");

    driver->u1DrvReadVcom();

    const std::vector<std::string> errors = log.bodies(kError);
    EXPECT_NE(std::find(errors.begin(), errors.end(),
                        "[vcom][INIT] get data separation error,error code is -1!\n"),
              errors.end());
    EXPECT_EQ(1, driver->typeIdx);
}

TEST_F(Dispatch, TheOutcomeIsLoggedBeforeTheSwitchGoesOff)
{
    configure(10, 1);
    std::vector<std::string> order;
    ze::platform::setDebugSink([&](std::uint32_t, const std::string& text) {
        const std::string body = stripPrefix(text);
        if (body.find("success") != std::string::npos) order.push_back(body);
    });
    board->onGpioChange([&](unsigned int gpio, unsigned int level) {
        order.push_back("gpio " + std::to_string(gpio) + "=" + std::to_string(level));
    });

    driver->u1DrvUpdataVcom(0x21);
    driver->u1DrvSaveVcom(0x21);
    driver->u1DrvReadVcom();

    EXPECT_EQ((std::vector<std::string>{
                  "gpio 0=1", "[DR_VCOM]VCOM KD532P Update success .\n", "gpio 0=0",
                  "gpio 0=1", "[DR_VCOM] KD532P save success .\n", "gpio 0=0",
                  "gpio 0=1", "[DR_VCOM]VCOM IC_KD532P read success .\n", "gpio 0=0"}),
              order);
}

TEST_F(Dispatch, AFailedReadReturnsZeroAndOnlyTheLogTellsItFromAChipHoldingZero)
{
    configure(10, 0);
    board->failMatching(0xE8, 0x01, -6);

    EXPECT_EQ(0, driver->u1DrvReadVcom());

    const std::vector<std::string> errors = log.bodies(kError);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ("[DR_VCOM]VCOM IC_KD532P read fail .\n", errors.back());
}

TEST_F(Dispatch, AStepMessageNamesTheChipRoutineThatRanTheStep)
{
    configure(10, 0);
    board->failMatching(0xE8, 0x01, -6);

    driver->u1DrvReadVcom();

    bool seen = false;
    for (const LogMessage& m : log.messages()) {
        if (stripPrefix(m.text) != "[DR_VCOM]getVcomvalue fail!!\n") continue;
        seen = true;
        EXPECT_EQ(0u, m.text.rfind("auo.cpp:", 0)) << m.text;
        EXPECT_NE(std::string::npos, m.text.find(":IC_KD532P_Read(): ")) << m.text;
    }
    EXPECT_TRUE(seen);
}

TEST_F(Dispatch, UpdateAndSaveReturnTheRoutinesFailureStatusAndIgnoreASwitchFailure)
{
    configure(10, 1);
    board->failMatching(0xE8, std::nullopt, -121);
    board->failNth(Call::GpioSetValue, 1, 9);

    EXPECT_EQ(-121, driver->u1DrvUpdataVcom(3));
    EXPECT_EQ(-121, driver->u1DrvSaveVcom(3));

    const std::vector<std::string> errors = log.bodies(kError);
    EXPECT_EQ("[DR_VCOM]setGpio fail.\n", errors.front());
    EXPECT_NE(std::find(errors.begin(), errors.end(), "[DR_VCOM]VCOM KD532P Update fail .\n"),
              errors.end());
    EXPECT_EQ("[DR_VCOM] KD532P save fail .\n", errors.back());
}

TEST_F(Dispatch, TheCallersValueIsCopiedSoTheRoutineCannotChangeIt)
{
    configure(10, 0);
    const unsigned short value = 0x0134;
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(value));
    EXPECT_EQ(0x34, chip->reg(0x01));
    EXPECT_EQ(0x34, driver->u1DrvReadVcom());
}

}  // namespace
}  // namespace test
}  // namespace ze
