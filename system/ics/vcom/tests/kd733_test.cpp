#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/models/kd733.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using V = ze::ic::VCOMICDriver;
using ze::sim::Call;
using ze::sim::Kd733Chip;
using Routine = int (V::*)(unsigned short*);

constexpr int kBusFault = -121;

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

class Kd733Test : public DriverTest {
protected:
    Kd733Chip& installChip()
    {
        ze::sim::PanelConfig config;
        config.chip = ze::sim::ChipType::KD733;
        chip = std::dynamic_pointer_cast<Kd733Chip>(install(config).chip);
        return *chip;
    }

    std::shared_ptr<Kd733Chip> chip;
};

// The chip has reference 0x180 and setting 0x1DA (value 90), with the factory
// setting in NVM; the caller's value is 0x0190 (144, setting 0x210). `nth`
// counts transfers of the faulted kind.
struct RoutineCase {
    const char* name;
    Routine routine;
    Call faultCall;
    unsigned int nth;  // 0: no fault
    int result;
    unsigned short value;
    std::uint16_t setting;
    std::uint16_t nvm;
    const char* events;
    const char* messages;
};
void PrintTo(const RoutineCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint16_t kFactory = Kd733Chip::kFactoryReference;

#define KD_REF_READS "sleep 20000, sleep 1000, read 0xE8 [0x2B] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x2C] 80 -> 0, sleep 20000"
#define KD_UPDATE_LINE "I [DR_VCOM]write vcom to 0x2d: 0x2, to 0x2e: 0x10\n"

const RoutineCase kRoutineCases[] = {
    {"UpdateReadsTheReferenceThenWritesReferencePlusValue", &V::IC_KD733_Updata, Call::I2CWrite, 0,
     0, 0x0190, 0x0210, kFactory,
     KD_REF_READS ", sleep 1000, write 0xE8 [0x2D] 02 -> 0, sleep 20000, sleep 1000, write 0xE8 [0x2E] 10 -> 0, sleep 20000",
     KD_UPDATE_LINE "I [DR_VCOM]VCOMIC adjust Vcom OK : 144.\n"},
    {"ReadReadsAllFourRegistersAndReturnsTheLowByteDifference", &V::IC_KD733_Read, Call::I2CRead, 0,
     0, 90, 0x01DA, kFactory,
     KD_REF_READS ", sleep 1000, read 0xE8 [0x2D] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x2E] DA -> 0, sleep 20000",
     "I [DR_VCOM]get databuf1 0x2d: 0x1, get databuf2 0x2e: 0xDA.\nI [DR_VCOM]getVcomvalue OK: 90.\n"},
    {"SaveWritesTheSaveControlByteThenWaitsForProgramming", &V::IC_KD733_Save, Call::I2CWrite, 0,
     0, 0x0190, 0x01DA, 0x01DA,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 41 -> 0, sleep 60000", "I [DR_VCOM]save Vcom OK.\n"},

    {"UpdateWhoseReferenceHighReadFailsWritesNothing", &V::IC_KD733_Updata, Call::I2CRead, 1,
     kBusFault, 0x0190, 0x01DA, kFactory, "sleep 20000, sleep 1000, read 0xE8 [0x2B]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf3 fail.\n"},
    {"UpdateWhoseReferenceLowReadFailsWritesNothing", &V::IC_KD733_Updata, Call::I2CRead, 2,
     kBusFault, 0x0190, 0x01DA, kFactory,
     "sleep 20000, sleep 1000, read 0xE8 [0x2B] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x2C]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf4 fail.\n"},
    {"UpdateWhoseHighWriteFailsKeepsTheSetting", &V::IC_KD733_Updata, Call::I2CWrite, 1,
     kBusFault, 0x0190, 0x01DA, kFactory, KD_REF_READS ", sleep 1000, write 0xE8 [0x2D] 02 -> -121",
     KD_UPDATE_LINE "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust databuf1 fail.\n"},
    {"UpdateWhoseLowWriteFailsLeavesTheNewHighBits", &V::IC_KD733_Updata, Call::I2CWrite, 2,
     kBusFault, 0x0190, 0x02DA, kFactory,
     KD_REF_READS ", sleep 1000, write 0xE8 [0x2D] 02 -> 0, sleep 20000, sleep 1000, write 0xE8 [0x2E] 10 -> -121",
     KD_UPDATE_LINE "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust databuf2 fail.\n"},
    {"ReadWhoseReferenceHighFailsKeepsTheValue", &V::IC_KD733_Read, Call::I2CRead, 1,
     kBusFault, 0x0190, 0x01DA, kFactory, "sleep 20000, sleep 1000, read 0xE8 [0x2B]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf3 fail.\n"},
    {"ReadWhoseReferenceLowFailsKeepsTheValue", &V::IC_KD733_Read, Call::I2CRead, 2,
     kBusFault, 0x0190, 0x01DA, kFactory,
     "sleep 20000, sleep 1000, read 0xE8 [0x2B] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x2C]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf4 fail.\n"},
    {"ReadWhoseSettingHighFailsKeepsTheValue", &V::IC_KD733_Read, Call::I2CRead, 3,
     kBusFault, 0x0190, 0x01DA, kFactory, KD_REF_READS ", sleep 1000, read 0xE8 [0x2D]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf1 fail.\n"},
    {"ReadWhoseSettingLowFailsKeepsTheValue", &V::IC_KD733_Read, Call::I2CRead, 4,
     kBusFault, 0x0190, 0x01DA, kFactory,
     KD_REF_READS ", sleep 1000, read 0xE8 [0x2D] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x2E]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf2 fail.\n"},
    {"FailedSaveReturnsWithoutWaitingAndKeepsTheNvm", &V::IC_KD733_Save, Call::I2CWrite, 1,
     kBusFault, 0x0190, 0x01DA, kFactory, "sleep 20000, sleep 1000, write 0xE8 [0xFF] 41 -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]save Vcom fail.\n"},
};

#undef KD_REF_READS
#undef KD_UPDATE_LINE

class Kd733RoutineTest : public Kd733Test, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(Kd733RoutineTest, RunsItsScheduleAndReportsTheOutcome)
{
    const RoutineCase& c = GetParam();
    Kd733Chip& model = installChip();
    model.setReference(0x0180);
    model.setSetting(0x01DA);
    if (c.nth != 0) board->failNth(c.faultCall, c.nth, kBusFault);

    unsigned short value = 0x0190;
    EXPECT_EQ(c.result, (driver.get()->*c.routine)(&value));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.setting, chip->setting());
    EXPECT_EQ(0x0180, chip->reference());
    EXPECT_EQ(c.nvm, chip->nvmSetting());
    EXPECT_EQ(c.events, joined(events()));
    EXPECT_EQ(c.messages, levelled(log));
}

INSTANTIATE_TEST_SUITE_P(, Kd733RoutineTest, ::testing::ValuesIn(kRoutineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Kd733Test, UpdateThenReadRoundTripsEveryValueWhateverTheReference)
{
    installChip();
    for (std::uint16_t reference : {0x000, 0x180, 0x3F0, 0x3FF}) {
        chip->setReference(reference);
        for (unsigned int v = 0; v < 256; ++v) {
            ASSERT_EQ(0, driver->u1DrvUpdataVcom(static_cast<unsigned short>(v * 0x0101))) << v;
            ASSERT_EQ((reference + v) % 1024, chip->setting()) << reference << " " << v;
            ASSERT_EQ(v, driver->u1DrvReadVcom()) << reference << " " << v;
        }
    }
}

TEST_F(Kd733Test, SettingWrapsAtTenBitsAndIgnoresUpperReferenceBits)
{
    installChip();
    const struct {
        std::uint8_t refHigh, refLow;
        unsigned short value;
        std::uint8_t setHigh, setLow;
    } kCases[] = {
        {0x00, 0x00, 0x0000, 0x00, 0x00}, {0x01, 0x80, 0x0010, 0x01, 0x90}, {0x03, 0xF0, 0x0020, 0x00, 0x10},
        {0xFF, 0xF0, 0x0020, 0x00, 0x10}, {0x01, 0x80, 0x01FF, 0x02, 0x7F},
    };
    for (const auto& c : kCases) {
        chip->setReferenceRegisters(c.refHigh, c.refLow);
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value));
        EXPECT_EQ(c.setHigh, chip->reg(Kd733Chip::kRegSetHigh)) << c.value;
        EXPECT_EQ(c.setLow, chip->reg(Kd733Chip::kRegSetLow)) << c.value;
        EXPECT_EQ(c.value & 0xFF, driver->u1DrvReadVcom());
    }
}

TEST_F(Kd733Test, SavedValueSurvivesAPowerCycleAndALaterUnsavedOneDoesNot)
{
    installChip().setReference(0x2F0);
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x21));
    ASSERT_EQ(0, driver->u1DrvSaveVcom(0x99));
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x42));
    board->powerCycle();
    EXPECT_EQ(0x21, driver->u1DrvReadVcom());
    EXPECT_EQ(0x2F0 + 0x21, chip->setting());
    EXPECT_EQ(1u, chip->saveCount());
}

}  // namespace
}  // namespace test
}  // namespace ze
