
#include <ze/sim/models/g1625.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::G1625;

class G1625Test : public DriverTest {
protected:
    void SetUp() override { chip = &installModel<G1625>("g1625"); }
    std::string state() const
    {
        return "set " + hex(chip->setting()) + " nvm " + hex(chip->nvmSetting());
    }
    G1625* chip = nullptr;
};

// The chip holds its factory setting 0x40; the caller's value is 200, whose
// bit 7 is lost: setting 0x48.
TEST_F(G1625Test, RoutinesSendOneCommandByteAndReturnTheStatusOfAFailedOne)
{
    const Routine read = &V::IC_G1625_Read, update = &V::IC_G1625_Updata, save = &V::IC_G1625_Save;
    const Lines updated = R"(sleep 20000
                             I [DR_VCOM]vcomdata : 200, writebuf : 0x91 .\n
                             write 0xE8 [] 91
                             I [DR_VCOM]VCOMIC adjust Vcom OK : 200.\n)"_lines;
    const Lines saved = R"(sleep 20000
                           I [DR_VCOM]vcomdata : 200, savebuf : 0x90 .\n
                           sleep 20000, write 0xE8 [] 90, sleep 550000
                           I [DR_VCOM]save Vcom 200 OK.\n)"_lines;
    const Lines readBack = R"(sleep 20000, read 0xE9 [] 80
                              I [DR_VCOM]readbuf: 0x80 getVcomvalue OK: 64.\n)"_lines;
    const std::vector<RoutineRun> runs = {
        {update, kNoFault, 0, updated, "set 48 nvm 40"},
        {save, kNoFault, 0, saved, "set 48 nvm 48"},
        {read, kNoFault, 0, readBack, "", 64},
        {save, nthWrite(1), kBusFault,
         upTo(saved, "write 0xE8 [] 90") + Lines{"E [DR_VCOM]save Vcom fail.\n"}},
    };
    expectRuns(
        runs, 200, [&](const RoutineRun&) { SetUp(); }, [&] { return state(); });
}

TEST_F(G1625Test, EveryValueRoundTripsWithoutItsBit7AndASaveKeepsItsOwnValue)
{
    const auto setting = [](unsigned v) { return v & 0x7F; };
    expectRoundTrip([&] { return chip->setting(); }, setting, setting);
    expectPowerCycleKeeps(0x99 & 0x7F, {"VCOM G1625 Update", "VCOM G1625 save", "VCOM G1625 read"});
}

TEST_F(G1625Test, StatusIsReadAtTheAddressPlusOneWrappingFrom0xFFTo0x00)
{
    chip = &installModel<G1625>("g1625", 0xFF);
    board->attach(1, 0x00, std::make_shared<G1625>(0x11));
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(5));
    EXPECT_EQ(0x11, driver->u1DrvReadVcom());
    EXPECT_EQ(5, chip->setting());
    EXPECT_EQ("sleep 20000, write 0xFF [] 0B, sleep 20000, read 0x00 [] 22", steps());
}

}  // namespace
}  // namespace ze::test
