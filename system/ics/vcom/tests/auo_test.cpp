#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/models/auo.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using V = ze::ic::VCOMICDriver;
using ze::sim::AuoChip;
using ze::sim::Call;
using ze::sim::ChipType;
using Routine = int (V::*)(unsigned short*);

constexpr unsigned int kGate = 168;  // default GpioAddr 0xA8
constexpr int kBusFault = -121;
constexpr int kGpioFault = 3;
constexpr int kNoLine = -1;

struct Fault {
    Call call;
    unsigned int nth;  // 0: none
    int status;
};
constexpr Fault kNoFault{Call::I2COpen, 0, 0};

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) out += (out.empty() ? "" : ", ") + line;
    return out;
}

// "E "/"I " and the body; of the transport's own report only its status line.
std::string levelled(const LogCapture& log)
{
    std::string out;
    for (const LogMessage& m : log.messages()) {
        const std::string body = stripPrefix(m.text);
        if (body.rfind("[VCOMIC] I2C ", 0) == 0) continue;
        out += (m.level == QOR_DEBUG_LEVEL_ERROR ? "E " : "I ") + body;
    }
    return out;
}

class AuoTest : public DriverTest {
protected:
    AuoChip& installChip(ChipType type, std::uint32_t gpioStatus = 1)
    {
        ze::sim::PanelConfig config;
        config.chip = type;
        config.gpioStatus = gpioStatus;
        chip = std::dynamic_pointer_cast<AuoChip>(install(config).chip);
        return *chip;
    }
    int lineLevel() const { return static_cast<int>(board->gpioLevel(kGate).value_or(kNoLine)); }

    std::shared_ptr<AuoChip> chip;
};

// Every routine in every outcome: waits, transfers, gate levels, messages,
// result and what the chip and the caller's value hold afterwards. The chip
// starts at setting 0x5A (90) with the factory setting in NVM; the caller's
// value is 0x0134.
struct RoutineCase {
    const char* name;
    ChipType chip;
    std::uint32_t gpioStatus;
    Routine routine;
    Fault fault;
    int result;
    unsigned short value;
    std::uint8_t setting;
    std::uint8_t nvm;
    int line;
    const char* events;
    const char* messages;
};
void PrintTo(const RoutineCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint8_t kFactory = AuoChip::kFactorySetting;
constexpr int kNack = ze::sim::kAddressNack;
constexpr ChipType kAuo = ChipType::AUO;
constexpr ChipType kKd = ChipType::KD532P;
constexpr Fault kOpenFails{Call::GpioSetValue, 1, kGpioFault};
constexpr Fault kCloseFails{Call::GpioSetValue, 2, kGpioFault};
constexpr Fault kReadFails{Call::I2CRead, 1, kBusFault};
constexpr Fault kWriteFails{Call::I2CWrite, 1, kBusFault};

const RoutineCase kRoutineCases[] = {
    {"AuoReadOpensTheGateAtLevelOneAndClosesItAfterTheHold", kAuo, 1, &V::IC_AUO_Read, kNoFault, 0, 90, 0x5A, kFactory, 0,
     "sleep 80000, gpio 168=1 -> 0, sleep 5000, sleep 1000, read 0xE8 [0x01] 5A -> 0, sleep 60000, gpio 168=0 -> 0",
     "I [DR_VCOM]getVcomvalue OK: 90.\n"},
    {"AuoUpdateWithAccessLevelZeroWritesTheLowByteBetweenLevelsZeroAndOne", kAuo, 0, &V::IC_AUO_Updata, kNoFault, 0, 0x0134, 0x34, kFactory, 1,
     "sleep 5000, gpio 168=0 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> 0, sleep 60000, gpio 168=1 -> 0",
     "I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n"},
    {"AuoSaveWithAccessLevelTwoCommitsBetweenLevelsTwoAndZero", kAuo, 2, &V::IC_AUO_Save, kNoFault, 0, 0x0134, 0x5A, 0x5A, 0,
     "gpio 168=2 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> 0, sleep 60000, gpio 168=0 -> 0",
     "I [DR_VCOM]save Vcom OK.\n"},

    {"AuoReadBehindAGateThatFailsToOpenIsNotAnswered", kAuo, 1, &V::IC_AUO_Read, kOpenFails, kNack, 0x0134, 0x5A, kFactory, 0,
     "sleep 80000, gpio 168=1 -> 3, sleep 5000, sleep 1000, read 0xE8 [0x01]  -> -6",
     "E [DR_VCOM]setGpio low fail.\nE [VCOMIC] QEL_I2CRead fail, ret = -6.\nE [DR_VCOM]getVcomvalue fail!!\n"},
    {"AuoUpdateBehindAGateThatFailsToOpenIsNotAnswered", kAuo, 1, &V::IC_AUO_Updata, kOpenFails, kNack, 0x0134, 0x5A, kFactory, 0,
     "sleep 5000, gpio 168=1 -> 3, sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> -6",
     "E [DR_VCOM]setGpio low fail.\nE [VCOMIC] QEL_I2CWrite fail, ret = -6.\nE [DR_VCOM]VCOMIC adjust Vcom fail.\n"},
    {"AuoSaveBehindAGateThatFailsToOpenIsNotAnswered", kAuo, 1, &V::IC_AUO_Save, kOpenFails, kNack, 0x0134, 0x5A, kFactory, 0,
     "gpio 168=1 -> 3, sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> -6",
     "E [DR_VCOM]setGpio low fail.\nE [VCOMIC] QEL_I2CWrite fail, ret = -6.\nE [DR_VCOM]save Vcom fail.\n"},

    {"AuoFailedReadKeepsTheValueAndLeavesTheGateOpen", kAuo, 1, &V::IC_AUO_Read, kReadFails, kBusFault, 0x0134, 0x5A, kFactory, 1,
     "sleep 80000, gpio 168=1 -> 0, sleep 5000, sleep 1000, read 0xE8 [0x01]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]getVcomvalue fail!!\n"},
    {"AuoFailedUpdateKeepsTheSettingAndLeavesTheGateOpen", kAuo, 1, &V::IC_AUO_Updata, kWriteFails, kBusFault, 0x0134, 0x5A, kFactory, 1,
     "sleep 5000, gpio 168=1 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust Vcom fail.\n"},
    {"AuoFailedSaveKeepsTheNvmAndLeavesTheGateOpen", kAuo, 1, &V::IC_AUO_Save, kWriteFails, kBusFault, 0x0134, 0x5A, kFactory, 1,
     "gpio 168=1 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]save Vcom fail.\n"},

    {"AuoReadWhoseGateFailsToCloseFailsWithTheValueStored", kAuo, 1, &V::IC_AUO_Read, kCloseFails, kGpioFault, 90, 0x5A, kFactory, 1,
     "sleep 80000, gpio 168=1 -> 0, sleep 5000, sleep 1000, read 0xE8 [0x01] 5A -> 0, sleep 60000, gpio 168=0 -> 3",
     "I [DR_VCOM]getVcomvalue OK: 90.\nE [DR_VCOM]setGpio High fail.\n"},
    {"AuoUpdateWhoseGateFailsToCloseFailsWithTheSettingWritten", kAuo, 1, &V::IC_AUO_Updata, kCloseFails, kGpioFault, 0x0134, 0x34, kFactory, 1,
     "sleep 5000, gpio 168=1 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> 0, sleep 60000, gpio 168=0 -> 3",
     "I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\nE [DR_VCOM]setGpio High fail.\n"},
    {"AuoSaveWhoseGateFailsToCloseFailsWithTheNvmWritten", kAuo, 1, &V::IC_AUO_Save, kCloseFails, kGpioFault, 0x0134, 0x5A, 0x5A, 1,
     "gpio 168=1 -> 0, sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> 0, sleep 60000, gpio 168=0 -> 3",
     "I [DR_VCOM]save Vcom OK.\nE [DR_VCOM]setGpio High fail.\n"},

    {"Kd532pReadWaitsAndReadsWithoutAGate", kKd, 1, &V::IC_KD532P_Read, kNoFault, 0, 90, 0x5A, kFactory, kNoLine,
     "sleep 80000, sleep 1000, read 0xE8 [0x01] 5A -> 0", "I [DR_VCOM]getVcomvalue OK: 90.\n"},
    {"Kd532pUpdateWritesTheLowByte", kKd, 1, &V::IC_KD532P_Updata, kNoFault, 0, 0x0134, 0x34, kFactory, kNoLine,
     "sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> 0", "I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n"},
    {"Kd532pSaveWaitsForProgrammingAfterItsMessage", kKd, 1, &V::IC_KD532P_Save, kNoFault, 0, 0x0134, 0x5A, 0x5A, kNoLine,
     "sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> 0, sleep 500000", "I [DR_VCOM]save Vcom OK.\n"},
    {"Kd532pFailedReadKeepsTheValue", kKd, 1, &V::IC_KD532P_Read, kReadFails, kBusFault, 0x0134, 0x5A, kFactory, kNoLine,
     "sleep 80000, sleep 1000, read 0xE8 [0x01]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]getVcomvalue fail!!\n"},
    {"Kd532pFailedUpdateKeepsTheSetting", kKd, 1, &V::IC_KD532P_Updata, kWriteFails, kBusFault, 0x0134, 0x5A, kFactory, kNoLine,
     "sleep 5000, sleep 1000, write 0xE8 [0x01] 34 -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust Vcom fail.\n"},
    {"Kd532pFailedSaveReturnsWithoutWaiting", kKd, 1, &V::IC_KD532P_Save, kWriteFails, kBusFault, 0x0134, 0x5A, kFactory, kNoLine,
     "sleep 5000, sleep 1000, write 0xE8 [0x00] 0A -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]save Vcom fail.\n"},
};

class AuoRoutineTest : public AuoTest, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(AuoRoutineTest, RunsItsScheduleAndReportsTheOutcome)
{
    const RoutineCase& c = GetParam();
    installChip(c.chip, c.gpioStatus).setSetting(0x5A);
    if (c.fault.nth != 0) board->failNth(c.fault.call, c.fault.nth, c.fault.status);

    unsigned short value = 0x0134;
    EXPECT_EQ(c.result, (driver.get()->*c.routine)(&value));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.setting, chip->setting());
    EXPECT_EQ(c.nvm, chip->nvm());
    EXPECT_EQ(c.line, lineLevel());
    EXPECT_EQ(c.events, joined(events()));
    EXPECT_EQ(c.messages, levelled(log));
}

INSTANTIATE_TEST_SUITE_P(, AuoRoutineTest, ::testing::ValuesIn(kRoutineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AuoTest, GateThatFailsToOpenIsOnlyLoggedWhileTheLineIsStillAtAccessLevel)
{
    installChip(ChipType::AUO);
    unsigned short value = 0x0134;
    board->failNth(Call::I2CWrite, 1, kBusFault);
    ASSERT_EQ(kBusFault, driver->IC_AUO_Updata(&value));
    ASSERT_EQ(1, lineLevel());
    resetRecords();

    board->failNth(Call::GpioSetValue, 1, kGpioFault);
    EXPECT_EQ(0, driver->IC_AUO_Updata(&value));
    EXPECT_EQ(0x34, chip->setting());
    EXPECT_EQ(0, lineLevel());
    EXPECT_EQ("E [DR_VCOM]setGpio low fail.\nI [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n", levelled(log));
}

TEST_F(AuoTest, Kd532pDispatchNamesTheChipDifferentlyForEachOperation)
{
    installChip(ChipType::KD532P);
    EXPECT_EQ(AuoChip::kFactorySetting, driver->u1DrvReadVcom());
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(1));
    EXPECT_EQ(0, driver->u1DrvSaveVcom(1));
    board->failMatching(0xE8, std::nullopt, kBusFault);
    EXPECT_EQ(0, driver->u1DrvReadVcom());
    EXPECT_EQ(kBusFault, driver->u1DrvUpdataVcom(1));
    EXPECT_EQ(kBusFault, driver->u1DrvSaveVcom(1));

    std::vector<std::string> outcomes;
    for (const LogMessage& m : log.messages()) {
        const std::string body = stripPrefix(m.text);
        if (body.find("KD532P") != std::string::npos) {
            outcomes.push_back((m.level == QOR_DEBUG_LEVEL_ERROR ? "E " : "I ") + body);
        }
    }
    EXPECT_EQ((std::vector<std::string>{
                  "I [DR_VCOM]VCOM IC_KD532P read success .\n",
                  "I [DR_VCOM]VCOM KD532P Update success .\n",
                  "I [DR_VCOM] KD532P save success .\n",
                  "E [DR_VCOM]VCOM IC_KD532P read fail .\n",
                  "E [DR_VCOM]VCOM KD532P Update fail .\n",
                  "E [DR_VCOM] KD532P save fail .\n",
              }),
              outcomes);
}

// Through the dispatch, for both chips.
class AuoFamilyTest : public AuoTest, public ::testing::WithParamInterface<ChipType> {};

TEST_P(AuoFamilyTest, UpdateThenReadRoundTripsTheLowByteOfEveryValue)
{
    installChip(GetParam());
    for (unsigned int v = 0; v < 256; ++v) {
        const unsigned short withHighByte = static_cast<unsigned short>(v * 0x0101);
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(withHighByte)) << v;
        ASSERT_EQ(v, chip->setting()) << v;
        ASSERT_EQ(v, driver->u1DrvReadVcom()) << v;
    }
}

TEST_P(AuoFamilyTest, SavedValueSurvivesAPowerCycleAndALaterUnsavedOneDoesNot)
{
    installChip(GetParam());
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x21));
    ASSERT_EQ(0, driver->u1DrvSaveVcom(0x99));
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x42));
    board->powerCycle();
    EXPECT_EQ(0x21, driver->u1DrvReadVcom());
    EXPECT_EQ(1u, chip->saveCount());
}

INSTANTIATE_TEST_SUITE_P(, AuoFamilyTest, ::testing::Values(ChipType::AUO, ChipType::KD532P),
                         [](const auto& info) {
                             return std::string(info.param == ChipType::AUO ? "Auo" : "Kd532p");
                         });

}  // namespace
}  // namespace test
}  // namespace ze
