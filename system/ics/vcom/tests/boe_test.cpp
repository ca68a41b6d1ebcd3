#include <ze/sim/models/boe.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::BoeChip;

class BoeTest : public DriverTest {
protected:
    void SetUp() override { chip = &installModel<BoeChip>(ChipType::BOE); }
    std::string state() const
    {
        return "code " + hex(chip->code(), 4) + " nvm " + hex(chip->nvmCode(), 4);
    }
    BoeChip* chip = nullptr;
};

// The chip starts at code 0x0200 (value 111) with the factory code 0x0211 in
// NVM; the caller's value is 0x0134 (52, code 0x01C5).
TEST_F(BoeTest, RoutinesRunTheirScheduleAndStopAtTheFirstFailedTransfer)
{
    const Routine read = &V::IC_BOE_Read, update = &V::IC_BOE_Updata, save = &V::IC_BOE_Save;
    const std::string updating = "I [DR_VCOM]write vcom to 0x25: 0x1, to 0x26: 0xC5\n";
    const std::vector<RoutineRun> runs = {
        {update, kNoFault, 0, "sleep 20000, write 0xE8 [0x25] 01, sleep 20000, write 0xE8 [0x26] C5, "
         "sleep 20000", updating + "I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n", "code 01C5 nvm 0211"},
        {save, kNoFault, 0, "sleep 20000, write 0xE8 [0xFF] 40, sleep 20000", "I [DR_VCOM]save Vcom OK.\n",
         "code 0200 nvm 0200"},
        {read, kNoFault, 0, "sleep 20000, write 0xE8 [0xFF] 01, sleep 20000, read 0xE8 [0x25] 02, "
         "sleep 20000, read 0xE8 [0x26] 00, sleep 20000",
         "I [DR_VCOM]get databuf1 0x25 : 0x2, get databuf2 0x26 : 0x0.\n"
         "I [DR_VCOM]getVcomvalue OK: 111.\n", "", 111},
        {update, nthWrite(1), kBusFault, "... write 0xE8 [0x25] 01 -> -121",
         updating + "E [DR_VCOM]VCOMIC adjust databuf1 fail.\n"},
        {update, nthWrite(2), kBusFault, "... write 0xE8 [0x26] C5 -> -121",
         updating + "E [DR_VCOM]VCOMIC adjust databuf2 fail.\n", "code 0100 nvm 0211"},
        {save, nthWrite(1), kBusFault, "... write 0xE8 [0xFF] 40 -> -121", "E [DR_VCOM]save Vcom fail.\n"},
        {read, nthWrite(1), kBusFault, "... write 0xE8 [0xFF] 01 -> -121",
         "E [DR_VCOM]write control address fail.\n"},
        {read, nthRead(1), kBusFault, "... read 0xE8 [0x25]  -> -121", "E [DR_VCOM]get databuf1 fail.\n"},
        {read, nthRead(2), kBusFault, "... read 0xE8 [0x26]  -> -121", "E [DR_VCOM]get databuf2 fail.\n"},
    };
    expectRuns(runs, 0x0134, [&](const RoutineRun&) {
        chip = &installModel<BoeChip>(ChipType::BOE);
        chip->setCode(0x0200);
    }, [&] { return state(); });
}

TEST_F(BoeTest, CodeHighByteStepsBetween110And111AndReadDecodesTheLowByteAlone)
{
    const struct { unsigned short value; std::uint16_t code; } codes[] = {
        {0, 0x0191}, {110, 0x01FF}, {111, 0x0200}, {255, 0x0290}, {0x0100, 0x0191}};
    for (const auto& c : codes) {
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value));
        EXPECT_EQ(c.code, chip->code()) << c.value;
    }
    chip->setCode(0x0791);
    EXPECT_EQ(0, driver->u1DrvReadVcom());
    chip->setCode(0x0090);
    EXPECT_EQ(255, driver->u1DrvReadVcom());
}

TEST_F(BoeTest, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    expectRoundTrip([&] { return chip->code(); }, [](unsigned v) { return v + 401; });
    expectPowerCycleKeeps(0x21);
}

}  // namespace
}  // namespace ze::test
