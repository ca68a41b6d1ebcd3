#include <ze/sim/models/innolux.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::In518Chip;
using ze::sim::InnoluxBridge;

constexpr Routine kRead = &V::IC_INX_IN518_Read;
constexpr Routine kUpdate = &V::IC_INX_IN518_Updata;
constexpr Routine kSave = &V::IC_INX_IN518_Save;

class In518 : public DriverTest {
protected:
    void SetUp() override { installChip(); }
    void installChip(std::uint8_t vcomAddr = 0xE8)
    {
        chip = &installModel<In518Chip>("in518", vcomAddr);
        bridge = std::dynamic_pointer_cast<InnoluxBridge>(panel.bridge);
    }
    std::string state() const
    {
        return "vcom " + hex(chip->vcom()) + " nvm " + hex(chip->nvmVcom()) +
               (bridge->isOpen() ? " open" : " closed");
    }
    In518Chip* chip = nullptr;
    std::shared_ptr<InnoluxBridge> bridge;
};

// The chip holds 0x80; the caller's value is 0x0142.
TEST_F(In518, RoutinesSendTheRecordWithItsTableCrcAndCloseThePassThrough)
{
    const Lines open = {"write 0xC2 [0xE7] EA 10 01", "sleep 20000"};
    const std::string close = "write 0xC2 [0xE7] EA 10 00";
    const Lines unlock = R"(write 0xE8 [0x2F] B7, write 0xE8 [0x30] F6, write 0xE8 [0x3D] 80
        sleep 70000, write 0xE8 [0x31] 01 89 57 42 B6)"_lines;
    const Lines verdict = {"sleep 20000", "read 0xE9 [0x3D] 00"};
    const std::vector<RoutineRun> runs = {
        {kRead, kNoFault, 0,
         Lines{"I [DR_VCOM]Vcom read For InnoLux518...\n"} + open +
             Lines{"read 0xE8 [0x34] 80", "sleep 15000", close},
         "vcom 80 nvm 80 closed", 0x80},
        {kUpdate, kNoFault, 0,
         R"(E [VCOMIC] IC_INX_IN518_Updata = 0x142.\n
             I [DR_VCOM]Vcom Updata For InnoLux518...\n)"_lines +
             open + unlock + verdict +
             Lines{"I [DR_VCOM]INX518 Vcom read i2cStatus sucess.\n\n", "sleep 20000", close},
         "vcom 42 nvm 80 closed"},
        {kSave, kNoFault, 0,
         R"(E [VCOMIC] IC_INX_IN518_Save = 0x142.\n
             I [DR_VCOM]Vcom save For InnoLux518...\n
             sleep 10000)"_lines +
             open + unlock + Lines{"I [DR_VCOMINX Vcom write data [0x42] \n\n"} + verdict + R"(
             I [DR_VCOM]INX Vcom save i2cStatus success.\n\n
             write 0xE8 [0x3A] 80, sleep 260000, write 0xE8 [0x3D] 00
             I [DR_VCOM]INX save Vcom sucess.\n\n
             write 0xE8 [0x3C] 80, sleep 20000, write 0xC2 [0xE7] EA 10 00, sleep 20000)"_lines,
         "vcom 42 nvm 42 closed"},
    };
    expectRuns(
        runs, 0x0142, [&](const RoutineRun&) { installChip(); }, [&] { return state(); });
}

TEST_F(In518, AttemptsFollowTheScriptedStatusesWithinTheWorstCaseWait)
{
    const std::uint64_t attempt = 95000, program = 262000, update = 21000 + 21000,
                        save = 10000 + 21000 + 21000 + 21000;  // lead, open, lock, close
    const struct {
        Routine routine;
        std::vector<std::uint8_t> statuses;
        long recordWrites, programs, again;  // again: "reset again" messages
        std::uint64_t totalUs;
    } cases[] = {
        {kUpdate, {0x5D, 0x5D, 0x5D, 0x5D, 0x5D, 0x00}, 5, 0, 5, update + 5 * attempt},
        {kSave, {0x5D, 0x5D, 0x5D, 0x5D, 0x5D, 0x00}, 5, 0, 5, save + 5 * attempt},
        {kSave, {0x65, 0x65, 0x65, 0x65, 0x65}, 5, 5, 0, save + 5 * (attempt + program)},
        {kSave, {0x5D, 0x65, 0x00}, 3, 2, 1, save + 3 * attempt + 2 * program},
    };
    for (const auto& c : cases) {
        installChip();
        chip->scriptStatus(c.statuses);
        EXPECT_EQ(0, run(c.routine));
        EXPECT_EQ(c.recordWrites, count("write 0xE8 [0x31]"));
        EXPECT_EQ(c.programs, long(chip->programCount()));
        EXPECT_EQ(c.programs, count("sleep 260000"));
        EXPECT_EQ(c.routine == kSave ? 1u : 0u, chip->lockCount());
        EXPECT_EQ(c.again, logged(c.routine == kUpdate
                                      ? "[DR_VCOM]INX518 Vcom  Vcom i2cStatus reset again.\n\n"
                                      : "[DR_VCOM]INX518 Vcom i2cStatus reset again.\n\n"));
        EXPECT_EQ(c.totalUs, nowUs());
    }
}

TEST_F(In518, StatusIsReadAtTheAddressPlusOneWrappingAt256)
{
    installChip(0xFF);
    EXPECT_EQ(ze::sim::kAddressNack, run(kUpdate));
    EXPECT_EQ("[VCOMIC]INX518_Update Vcom read i2cStatus fail, ret = -6.\n\n", errors().back());
    EXPECT_EQ(1, count("read 0x00 [0x3D]  -> -6"));
}

TEST_F(In518, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    expectRoundTrip([&] { return chip->vcom(); }, [](unsigned v) { return v; });
    expectPowerCycleKeeps(0x99, {"VCOM IN518 Update", " IN518 save", "VCOM IN518 read"});
}

}  // namespace
}  // namespace ze::test
