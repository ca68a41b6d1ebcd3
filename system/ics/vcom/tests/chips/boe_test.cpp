#include <ze/sim/models/boe.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::BoeChip;

class BoeTest : public DriverTest {
protected:
    void SetUp() override { chip = &installModel<BoeChip>("boe"); }
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
    const Lines updated = R"(sleep 20000
        I [DR_VCOM]write vcom to 0x25: 0x1, to 0x26: 0xC5\n
        write 0xE8 [0x25] 01, sleep 20000, write 0xE8 [0x26] C5, sleep 20000
        I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n)"_lines;
    const Lines saved = R"(sleep 20000, write 0xE8 [0xFF] 40, sleep 20000
                           I [DR_VCOM]save Vcom OK.\n)"_lines;
    const Lines readBack = R"(sleep 20000, write 0xE8 [0xFF] 01, sleep 20000, read 0xE8 [0x25] 02
        sleep 20000, read 0xE8 [0x26] 00
        I [DR_VCOM]get databuf1 0x25 : 0x2, get databuf2 0x26 : 0x0.\n
        sleep 20000
        I [DR_VCOM]getVcomvalue OK: 111.\n)"_lines;
    const std::vector<RoutineRun> runs = {
        {update, kNoFault, 0, updated, "code 01C5 nvm 0211"},
        {save, kNoFault, 0, saved, "code 0200 nvm 0200"},
        {read, kNoFault, 0, readBack, "", 111},
        // The high byte is already written when the low byte fails.
        {update, nthWrite(2), kBusFault,
         upTo(updated, "write 0xE8 [0x26] C5") + Lines{"E [DR_VCOM]VCOMIC adjust databuf2 fail.\n"},
         "code 0100 nvm 0211"},
        {read, nthRead(1), kBusFault,
         upTo(readBack, "read 0xE8 [0x25] 02") + Lines{"E [DR_VCOM]get databuf1 fail.\n"}},
    };
    expectRuns(
        runs, 0x0134,
        [&](const RoutineRun&) {
            chip = &installModel<BoeChip>("boe");
            chip->setCode(0x0200);
        },
        [&] { return state(); });
}

TEST_F(BoeTest, CodeHighByteStepsBetween110And111AndReadDecodesTheLowByteAlone)
{
    const struct {
        unsigned short value;
        std::uint16_t code;
    } codes[] = {{0, 0x0191}, {110, 0x01FF}, {111, 0x0200}, {255, 0x0290}, {0x0100, 0x0191}};
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
    expectPowerCycleKeeps(0x21, {"VCOM BOE Update", "VCOM BOE save", "VCOM BOE read"});
}

}  // namespace
}  // namespace ze::test
