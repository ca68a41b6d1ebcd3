#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/models/boe.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using V = ze::ic::VCOMICDriver;
using ze::sim::BoeChip;
using ze::sim::Call;
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

class BoeTest : public DriverTest {
protected:
    BoeChip& installChip()
    {
        ze::sim::PanelConfig config;
        config.chip = ze::sim::ChipType::BOE;
        chip = std::dynamic_pointer_cast<BoeChip>(install(config).chip);
        return *chip;
    }

    std::shared_ptr<BoeChip> chip;
};

// The chip starts at code 0x0200 (value 111) with the factory code in NVM;
// the caller's value is 0x0134 (52, code 0x01C5). `nth` counts transfers of
// the faulted kind.
struct RoutineCase {
    const char* name;
    Routine routine;
    Call faultCall;
    unsigned int nth;  // 0: no fault
    int result;
    unsigned short value;
    std::uint16_t code;
    std::uint16_t nvm;
    const char* events;
    const char* messages;
};
void PrintTo(const RoutineCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint16_t kFactory = BoeChip::kFactoryCode;

const RoutineCase kRoutineCases[] = {
    {"UpdateWritesHighThenLowCodeByteWithStepWaits", &V::IC_BOE_Updata, Call::I2CWrite, 0,
     0, 0x0134, 0x01C5, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0x25] 01 -> 0, sleep 20000, sleep 1000, write 0xE8 [0x26] C5 -> 0, sleep 20000",
     "I [DR_VCOM]write vcom to 0x25: 0x1, to 0x26: 0xC5\nI [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n"},
    {"SaveWritesTheSaveControlByte", &V::IC_BOE_Save, Call::I2CWrite, 0,
     0, 0x0134, 0x0200, 0x0200,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 40 -> 0, sleep 20000", "I [DR_VCOM]save Vcom OK.\n"},
    {"ReadEnablesReadingThenReadsBothCodeBytes", &V::IC_BOE_Read, Call::I2CWrite, 0,
     0, 111, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x25] 02 -> 0, "
     "sleep 20000, sleep 1000, read 0xE8 [0x26] 00 -> 0, sleep 20000",
     "I [DR_VCOM]get databuf1 0x25 : 0x2, get databuf2 0x26 : 0x0.\nI [DR_VCOM]getVcomvalue OK: 111.\n"},

    {"UpdateWhoseHighByteFailsChangesNothing", &V::IC_BOE_Updata, Call::I2CWrite, 1,
     kBusFault, 0x0134, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0x25] 01 -> -121",
     "I [DR_VCOM]write vcom to 0x25: 0x1, to 0x26: 0xC5\n"
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust databuf1 fail.\n"},
    {"UpdateWhoseLowByteFailsLeavesTheNewHighByte", &V::IC_BOE_Updata, Call::I2CWrite, 2,
     kBusFault, 0x0134, 0x0100, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0x25] 01 -> 0, sleep 20000, sleep 1000, write 0xE8 [0x26] C5 -> -121",
     "I [DR_VCOM]write vcom to 0x25: 0x1, to 0x26: 0xC5\n"
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]VCOMIC adjust databuf2 fail.\n"},
    {"FailedSaveKeepsTheNvm", &V::IC_BOE_Save, Call::I2CWrite, 1,
     kBusFault, 0x0134, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 40 -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]save Vcom fail.\n"},
    {"ReadWhoseControlWriteFailsReadsNoCode", &V::IC_BOE_Read, Call::I2CWrite, 1,
     kBusFault, 0x0134, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 01 -> -121",
     "E [VCOMIC] QEL_I2CWrite fail, ret = -121.\nE [DR_VCOM]write control address fail.\n"},
    {"ReadWhoseHighByteFailsKeepsTheValue", &V::IC_BOE_Read, Call::I2CRead, 1,
     kBusFault, 0x0134, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x25]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf1 fail.\n"},
    {"ReadWhoseLowByteFailsKeepsTheValue", &V::IC_BOE_Read, Call::I2CRead, 2,
     kBusFault, 0x0134, 0x0200, kFactory,
     "sleep 20000, sleep 1000, write 0xE8 [0xFF] 01 -> 0, sleep 20000, sleep 1000, read 0xE8 [0x25] 02 -> 0, "
     "sleep 20000, sleep 1000, read 0xE8 [0x26]  -> -121",
     "E [VCOMIC] QEL_I2CRead fail, ret = -121.\nE [DR_VCOM]get databuf2 fail.\n"},
};

class BoeRoutineTest : public BoeTest, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(BoeRoutineTest, RunsItsScheduleAndReportsTheOutcome)
{
    const RoutineCase& c = GetParam();
    installChip().setCode(0x0200);
    if (c.nth != 0) board->failNth(c.faultCall, c.nth, kBusFault);

    unsigned short value = 0x0134;
    EXPECT_EQ(c.result, (driver.get()->*c.routine)(&value));
    EXPECT_EQ(c.value, value);
    EXPECT_EQ(c.code, chip->code());
    EXPECT_EQ(c.nvm, chip->nvmCode());
    EXPECT_EQ(c.events, joined(events()));
    EXPECT_EQ(c.messages, levelled(log));
}

INSTANTIATE_TEST_SUITE_P(, BoeRoutineTest, ::testing::ValuesIn(kRoutineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BoeTest, UpdateThenReadRoundTripsTheLowByteOfEveryValue)
{
    installChip();
    for (unsigned int v = 0; v < 256; ++v) {
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(static_cast<unsigned short>(v * 0x0101))) << v;
        ASSERT_EQ(v + 401, chip->code()) << v;
        ASSERT_EQ(v, driver->u1DrvReadVcom()) << v;
    }
}

TEST_F(BoeTest, CodeHighByteStepsFromOneToTwoBetween110And111)
{
    installChip();
    const struct {
        unsigned short value;
        std::uint16_t code;
    } kCodes[] = {{0, 0x0191}, {110, 0x01FF}, {111, 0x0200}, {255, 0x0290}, {0x0100, 0x0191}};
    for (const auto& c : kCodes) {
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value));
        EXPECT_EQ(c.code, chip->code()) << c.value;
    }
}

TEST_F(BoeTest, ReadDecodesFromTheLowByteAlone)
{
    installChip().setCode(0x0791);
    EXPECT_EQ(0, driver->u1DrvReadVcom());
    chip->setCode(0x0090);
    EXPECT_EQ(255, driver->u1DrvReadVcom());
}

TEST_F(BoeTest, SavedValueSurvivesAPowerCycleAndALaterUnsavedOneDoesNot)
{
    installChip();
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x21));
    ASSERT_EQ(0, driver->u1DrvSaveVcom(0x99));
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0x42));
    board->powerCycle();
    EXPECT_EQ(0x21, driver->u1DrvReadVcom());
    EXPECT_EQ(1u, chip->saveCount());
}

}  // namespace
}  // namespace test
}  // namespace ze
