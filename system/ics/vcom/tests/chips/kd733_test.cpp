#include <ze/sim/models/kd733.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::Kd733Chip;

class Kd733Test : public DriverTest {
protected:
    void SetUp() override { chip = &installModel<Kd733Chip>("kd733"); }
    std::string state() const
    {
        return "ref " + hex(chip->reference(), 3) + " set " + hex(chip->setting(), 3) + " nvm " +
               hex(chip->nvmSetting(), 3);
    }
    Kd733Chip* chip = nullptr;
};

// The chip has reference 0x180 and setting 0x1DA (value 90), with the factory
// setting 0x1C0 in NVM; the caller's value is 0x0190 (144, setting 0x210).
TEST_F(Kd733Test, RoutinesReadTheReferenceFirstAndStopAtTheFirstFailedTransfer)
{
    const Routine read = &V::IC_KD733_Read, update = &V::IC_KD733_Updata, save = &V::IC_KD733_Save;
    const Lines reference =
        "sleep 20000, read 0xE8 [0x2B] 01, sleep 20000, read 0xE8 [0x2C] 80, sleep 20000"_lines;
    const Lines updated = reference + R"(
        I [DR_VCOM]write vcom to 0x2d: 0x2, to 0x2e: 0x10\n
        write 0xE8 [0x2D] 02, sleep 20000, write 0xE8 [0x2E] 10, sleep 20000
        I [DR_VCOM]VCOMIC adjust Vcom OK : 144.\n)"_lines;
    const Lines readBack = reference + R"(read 0xE8 [0x2D] 01, sleep 20000, read 0xE8 [0x2E] DA
        I [DR_VCOM]get databuf1 0x2d: 0x1, get databuf2 0x2e: 0xDA.\n
        sleep 20000
        I [DR_VCOM]getVcomvalue OK: 90.\n)"_lines;
    const Lines saved = R"(sleep 20000, write 0xE8 [0xFF] 41, sleep 60000
                           I [DR_VCOM]save Vcom OK.\n)"_lines;
    const std::vector<RoutineRun> runs = {
        {update, kNoFault, 0, updated, "ref 180 set 210 nvm 1C0"},
        {read, kNoFault, 0, readBack, "", 90},
        {save, kNoFault, 0, saved, "ref 180 set 1DA nvm 1DA"},
        // The high bits are already written when the low byte fails.
        {update, nthWrite(2), kBusFault,
         upTo(updated, "write 0xE8 [0x2E] 10") + Lines{"E [DR_VCOM]VCOMIC adjust databuf2 fail.\n"},
         "ref 180 set 2DA nvm 1C0"},
        {read, nthRead(2), kBusFault,
         upTo(readBack, "read 0xE8 [0x2C] 80") + Lines{"E [DR_VCOM]get databuf4 fail.\n"}},
    };
    expectRuns(
        runs, 0x0190,
        [&](const RoutineRun&) {
            chip = &installModel<Kd733Chip>("kd733");
            chip->setReference(0x0180);
            chip->setSetting(0x01DA);
        },
        [&] { return state(); });
}

TEST_F(Kd733Test, SettingWrapsAtTenBitsAndIgnoresTheReservedReferenceBits)
{
    const struct {
        std::uint8_t refHigh, refLow;
        unsigned short value;
        std::uint8_t setHigh, setLow;
    } cases[] = {
        {0x03, 0xF0, 0x0020, 0x00, 0x10},
        {0xFF, 0xF0, 0x0020, 0x00, 0x10},
        {0x01, 0x80, 0x01FF, 0x02, 0x7F},
    };
    for (const auto& c : cases) {
        chip->setReferenceRegisters(c.refHigh, c.refLow);
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value));
        EXPECT_EQ(c.setHigh, chip->reg(Kd733Chip::kRegSetHigh)) << c.value;
        EXPECT_EQ(c.setLow, chip->reg(Kd733Chip::kRegSetLow)) << c.value;
        EXPECT_EQ(c.value & 0xFF, driver->u1DrvReadVcom());
    }
}

TEST_F(Kd733Test, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    chip->setReference(0x3F0);
    expectRoundTrip([&] { return chip->setting(); }, [](unsigned v) { return (0x3F0 + v) % 1024; });
    chip->setReference(0x2F0);
    expectPowerCycleKeeps(0x21, {"VCOM KD733 Update", " KD733 save", "VCOM KD733 read"});
    EXPECT_EQ(0x2F0 + 0x21, chip->setting());
}

}  // namespace
}  // namespace ze::test
