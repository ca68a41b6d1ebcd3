#include <ze/sim/models/auo.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::AuoChip;

class AuoTest : public DriverTest {
protected:
    void installChip(const char* type, std::uint32_t gpioStatus = 1)
    {
        chip = &installModel<AuoChip>(type, 0xE8, gpioStatus);
    }
    // Setting, NVM and the gate line (GPIO 168, the default 0xA8; "-": no line).
    std::string state() const
    {
        const auto line = board->gpioLevel(168);
        return "set " + hex(chip->setting()) + " nvm " + hex(chip->nvm()) + " gate " +
               (line ? std::to_string(*line) : "-");
    }
    AuoChip* chip = nullptr;
};

// The chip starts at setting 0x5A with the factory setting 0x80 in NVM, the
// gate at access level 1; the caller's value is 0x0134.
TEST_F(AuoTest, RoutinesRunTheirScheduleAndStopOrCarryOnAtEachFailure)
{
    const Routine read = &V::IC_AUO_Read, update = &V::IC_AUO_Updata, save = &V::IC_AUO_Save;
    const Routine kdRead = &V::IC_KD532P_Read, kdUpdate = &V::IC_KD532P_Updata,
                  kdSave = &V::IC_KD532P_Save;
    const Lines gateClose = {"sleep 60000", "gpio 168=0"};
    const Lines readBack = R"(sleep 80000, gpio 168=1, sleep 5000, read 0xE8 [0x01] 5A
                              I [DR_VCOM]getVcomvalue OK: 90.\n)"_lines;
    const Lines updated = R"(sleep 5000, gpio 168=1, sleep 5000, write 0xE8 [0x01] 34
                             I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n)"_lines;
    const Lines saved = R"(gpio 168=1, sleep 5000, write 0xE8 [0x00] 0A
                           I [DR_VCOM]save Vcom OK.\n)"_lines;
    const std::vector<RoutineRun> runs = {
        {read, kNoFault, 0, readBack + gateClose, "", 90},
        {update, kNoFault, 0, updated + gateClose, "set 34 nvm 80 gate 0"},
        {save, kNoFault, 0, saved + gateClose, "set 5A nvm 5A gate 0"},
        // A gate that fails to open is only logged: the chip does not answer.
        {read, nthGpio(1), ze::sim::kAddressNack, upTo(readBack, "gpio 168=1", kGpioFault) + R"(
             E [DR_VCOM]setGpio low fail.\n
             sleep 5000, read 0xE8 [0x01]  -> -6
             E readNumBytes report
             E [DR_VCOM]getVcomvalue fail!!\n)"_lines},
        // A failed transfer leaves the gate open.
        {save, nthWrite(1), kBusFault,
         upTo(saved, "write 0xE8 [0x00] 0A") + Lines{"E [DR_VCOM]save Vcom fail.\n"},
         "set 5A nvm 80 gate 1"},
        // A gate that fails to close fails the routine after the transfer.
        {update, nthGpio(2), kGpioFault,
         upTo(updated + gateClose, "gpio 168=0", kGpioFault) +
             Lines{"E [DR_VCOM]setGpio High fail.\n"},
         "set 34 nvm 80 gate 1"},
        {kdRead, kNoFault, 0, R"(sleep 80000, read 0xE8 [0x01] 5A
                                 I [DR_VCOM]getVcomvalue OK: 90.\n)"_lines,
         "", 90},
        {kdUpdate, kNoFault, 0, R"(sleep 5000, write 0xE8 [0x01] 34
                                   I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n)"_lines,
         "set 34 nvm 80 gate -"},
        {kdSave, kNoFault, 0, R"(sleep 5000, write 0xE8 [0x00] 0A
                                 I [DR_VCOM]save Vcom OK.\n
                                 sleep 500000)"_lines,
         "set 5A nvm 5A gate -"},
    };
    expectRuns(
        runs, 0x0134,
        [&](const RoutineRun& run) {
            const bool kd =
                run.routine == kdRead || run.routine == kdUpdate || run.routine == kdSave;
            installChip(kd ? "kd532p" : "auo");
            chip->setSetting(0x5A);
        },
        [&] { return state(); });
}

TEST_F(AuoTest, GateOpensAtGpioStatusAndRestsAtTheOtherLevel)
{
    for (unsigned int status : {0, 1, 2}) {
        installChip("auo", status);
        EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x34));
        const std::string rest = status == 0 ? "1" : "0";
        EXPECT_EQ("sleep 5000, gpio 168=" + std::to_string(status) +
                      ", sleep 5000, write 0xE8 [0x01] 34, sleep 60000, gpio 168=" + rest,
                  steps());
    }
}

TEST_F(AuoTest, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    installChip("auo");
    expectRoundTrip([&] { return chip->setting(); }, [](unsigned v) { return v; });
    expectPowerCycleKeeps(0x21, {"VCOM AUO Update", "VCOM AUO save", "VCOM AUO read"});
    installChip("kd532p");
    expectRoundTrip([&] { return chip->setting(); }, [](unsigned v) { return v; });
    expectPowerCycleKeeps(0x21, {"VCOM KD532P Update", " KD532P save", "VCOM IC_KD532P read"});
}

}  // namespace
}  // namespace ze::test
