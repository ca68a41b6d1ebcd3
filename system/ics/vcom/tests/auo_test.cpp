#include <ze/sim/models/auo.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::AuoChip;

class AuoTest : public DriverTest {
protected:
    void installChip(ChipType type, std::uint32_t gpioStatus = 1)
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
    const std::string readOk = "I [DR_VCOM]getVcomvalue OK: 90.\n",
                      updateOk = "I [DR_VCOM]VCOMIC adjust Vcom OK : 52.\n",
                      saveOk = "I [DR_VCOM]save Vcom OK.\n";
    const Lines gateClose = {"sleep 60000", "gpio 168=0"};
    const Lines auoRead =
        Lines{"sleep 80000", "gpio 168=1", "sleep 5000", "read 0xE8 [0x01] 5A", readOk} + gateClose;
    const Lines auoUpdate =
        Lines{"sleep 5000", "gpio 168=1", "sleep 5000", "write 0xE8 [0x01] 34", updateOk} +
        gateClose;
    const Lines auoSave =
        Lines{"gpio 168=1", "sleep 5000", "write 0xE8 [0x00] 0A", saveOk} + gateClose;
    const Lines kdSaved = {"sleep 5000", "write 0xE8 [0x00] 0A", saveOk, "sleep 500000"};
    const std::vector<RoutineRun> runs = {
        {read, kNoFault, 0, auoRead, "", 90},
        {update, kNoFault, 0, auoUpdate, "set 34 nvm 80 gate 0"},
        {save, kNoFault, 0, auoSave, "set 5A nvm 5A gate 0"},
        // A gate that fails to open is only logged: the chip does not answer.
        {read, nthGpio(1), ze::sim::kAddressNack,
         upTo(auoRead, "gpio 168=1", kGpioFault) +
             Lines{"E [DR_VCOM]setGpio low fail.\n", "sleep 5000",
                   "read 0xE8 [0x01]  -> " + std::to_string(ze::sim::kAddressNack),
                   "E readNumBytes report", "E [DR_VCOM]getVcomvalue fail!!\n"}},
        // A failed transfer leaves the gate open.
        {save, nthWrite(1), kBusFault,
         upTo(auoSave, "write 0xE8 [0x00] 0A") + Lines{"E [DR_VCOM]save Vcom fail.\n"},
         "set 5A nvm 80 gate 1"},
        // A gate that fails to close fails the routine after the transfer.
        {update, nthGpio(2), kGpioFault,
         upTo(auoUpdate, "gpio 168=0", kGpioFault) + Lines{"E [DR_VCOM]setGpio High fail.\n"},
         "set 34 nvm 80 gate 1"},

        {kdRead, kNoFault, 0, {"sleep 80000", "read 0xE8 [0x01] 5A", readOk}, "", 90},
        {kdUpdate,
         kNoFault,
         0,
         {"sleep 5000", "write 0xE8 [0x01] 34", updateOk},
         "set 34 nvm 80 gate -"},
        {kdSave, kNoFault, 0, kdSaved, "set 5A nvm 5A gate -"},
        {kdSave, nthWrite(1), kBusFault,
         upTo(kdSaved, "write 0xE8 [0x00] 0A") + Lines{"E [DR_VCOM]save Vcom fail.\n"}},
    };
    expectRuns(
        runs, 0x0134,
        [&](const RoutineRun& run) {
            const bool kd =
                run.routine == kdRead || run.routine == kdUpdate || run.routine == kdSave;
            installChip(kd ? ChipType::KD532P : ChipType::AUO);
            chip->setSetting(0x5A);
        },
        [&] { return state(); });
}

TEST_F(AuoTest, GateOpensAtGpioStatusAndRestsAtTheOtherLevel)
{
    for (unsigned int status : {0, 1, 2}) {
        installChip(ChipType::AUO, status);
        EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x34));
        EXPECT_EQ("sleep 5000, gpio 168=" + std::to_string(status) +
                      ", sleep 5000, "
                      "write 0xE8 [0x01] 34, sleep 60000, gpio 168=" +
                      (status == 0 ? "1" : "0"),
                  steps());
        EXPECT_EQ(0x34, chip->setting());
    }
}

TEST_F(AuoTest, Kd532pOutcomesNameTheChipDifferentlyForEachOperation)
{
    installChip(ChipType::KD532P);
    for (int ret : {0, kBusFault}) {
        if (ret != 0) board->failMatching(0xE8, std::nullopt, kBusFault);
        EXPECT_EQ(ret == 0 ? AuoChip::kFactorySetting : 0, driver->u1DrvReadVcom());
        EXPECT_EQ(ret, driver->u1DrvUpdataVcom(1));
        EXPECT_EQ(ret, driver->u1DrvSaveVcom(1));
    }
    EXPECT_EQ(
        "I [DR_VCOM]VCOM IC_KD532P read success .\nI [DR_VCOM]VCOM KD532P Update success .\n"
        "I [DR_VCOM] KD532P save success .\nE [DR_VCOM]VCOM IC_KD532P read fail .\n"
        "E [DR_VCOM]VCOM KD532P Update fail .\nE [DR_VCOM] KD532P save fail .\n",
        outcomes());
}

TEST_F(AuoTest, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    for (ChipType type : {ChipType::AUO, ChipType::KD532P}) {
        installChip(type);
        expectRoundTrip([&] { return chip->setting(); }, [](unsigned v) { return v; });
        expectPowerCycleKeeps(0x21);
    }
}

}  // namespace
}  // namespace ze::test
