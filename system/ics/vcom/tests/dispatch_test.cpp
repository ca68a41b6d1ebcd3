// Read, update and save dispatch to the fitted chip.

#include <cerrno>

#include <ze/ic/chip_catalogue.h>
#include <ze/sim/register_file.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

std::string boardFile(int typeIdx, int switchType)
{
    return "[VCOM]\nTypeIdx = " + std::to_string(typeIdx) +
           "\nI2cBus = 1\nVcomAddr = 0xE8\nGpioAddr = 0xA8\nGpioStatus = 1\nLdmFlag = 0\n"
           "I2cSwitchType = " +
           std::to_string(switchType) + "\n";
}

// A KD532P-shaped register file (TypeIdx 10): no gate, setting at 0x01.
class Dispatch : public DriverTest {
protected:
    Dispatch()
    {
        board->addBus(1);
        board->addGpio(0, 0);
        board->attach(1, 0xE8, chip);
    }
    void configure(int typeIdx, int switchType)
    {
        writeBoardFile(boardFile(typeIdx, switchType));
        driver->Get_Vcom_DataSeparation();
        resetRecords();
    }
    std::shared_ptr<ze::sim::RegisterFile> chip = std::make_shared<ze::sim::RegisterFile>();
};

TEST_F(Dispatch, UnsupportedTypesSwitchOnAndOffAroundNoRoutineAndTheReadAndSaveSaySo)
{
    const std::string choose = "I [DR_VCOM]Please choice the vcom IC.\n";
    for (int type : {0, 2, 5, 11, -1}) {
        configure(type, 1);
        EXPECT_EQ(-1, driver->u1DrvUpdataVcom(5));
        EXPECT_EQ(-1, driver->u1DrvSaveVcom(5));
        EXPECT_EQ("gpio 0=1, gpio 0=0, gpio 0=1, gpio 0=0", steps());
        EXPECT_EQ(choose, levelled());
        resetRecords();
        EXPECT_EQ(0, driver->u1DrvReadVcom());
        EXPECT_EQ(choose, levelled().substr(levelled().size() - choose.size()));
        EXPECT_EQ("gpio 0=1, gpio 0=0", steps());
    }
}

TEST_F(Dispatch, UpdateAndSaveBeforeAnyParseRefuseWithoutTouchingSwitchOrChip)
{
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x40));
    EXPECT_EQ(0, driver->u1DrvSaveVcom(0x40));
    EXPECT_EQ("", steps());
    EXPECT_EQ(Lines(2, "[vcom][error] get data separation error !\n"), errors());
}

TEST_F(Dispatch, EveryReadParsesAgainAndReportsAMissingSectionBeforeReadingTheDefaultChip)
{
    configure(10, 0);
    writeBoardFile(boardFile(4, 0));
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x44));  // still the old type: one write to 0x01
    EXPECT_EQ(0x44, chip->reg(0x01));
    driver->u1DrvReadVcom();
    EXPECT_EQ(4, driver->typeIdx);
    writeBoardFile("[PANEL]\n");
    driver->u1DrvReadVcom();
    EXPECT_EQ(1, logged("[vcom][INIT] get data separation error,error code is -1!\n"));
    EXPECT_EQ(1, driver->typeIdx);
}

TEST_F(Dispatch, TheOutcomeIsLoggedBeforeTheSwitchGoesOff)
{
    configure(10, 1);
    driver->u1DrvSaveVcom(0x21);
    EXPECT_EQ((Lines{"gpio 0=1", "sleep 5000", "write 0xE8 [0x00] 0A", "I [DR_VCOM]save Vcom OK.\n",
                     "sleep 500000", "I [DR_VCOM] KD532P save success .\n", "gpio 0=0"}),
              timeline());
}

// What a tool decides on: the routine's status, not the message text.
TEST_F(Dispatch, ReadVcomGivesTheRoutinesStatusAndNoDeviceForAnUnknownType)
{
    struct Case {
        int typeIdx;
        unsigned int failingRead;
        int status;
        unsigned short value;
    };
    chip->setReg(0x01, 0x5A);
    for (const Case& c :
         {Case{10, 0, 0, 0x5A}, Case{10, 1, kBusFault, 7}, Case{2, 0, -ENODEV, 7}}) {
        configure(c.typeIdx, 0);
        if (c.failingRead != 0) board->failNth(Call::I2CRead, c.failingRead, kBusFault);
        unsigned short value = 7;
        EXPECT_EQ(c.status, driver->readVcom(&value)) << c.typeIdx;
        EXPECT_EQ(c.value, value) << c.typeIdx;
        board->clearFaults();
    }
}

TEST_F(Dispatch, TheSupportedTypeIdxSetIsTheChipCatalogues)
{
    for (int type = 0; type < 16; ++type) {
        configure(type, 0);
        driver->u1DrvSaveVcom(0);
        EXPECT_EQ(ze::ic::catalogue::byTypeIdx(type) == nullptr,
                  logged("[DR_VCOM]Please choice the vcom IC.\n") == 1)
            << type;
    }
}

}  // namespace
}  // namespace ze::test
