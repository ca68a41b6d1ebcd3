#include <algorithm>

#include <ze/sim/models/innolux.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::In525Chip;
using ze::sim::InnoluxBridge;

constexpr Routine kRead = &V::IC_INX_IN525_Read;
constexpr Routine kUpdate = &V::IC_INX_IN525_Updata;
constexpr Routine kSave = &V::IC_INX_IN525_Save;

class In525 : public DriverTest {
protected:
    void SetUp() override
    {
        chip = &installModel<In525Chip>("in525");
        bridge = std::dynamic_pointer_cast<InnoluxBridge>(panel.bridge);
    }
    std::string state() const
    {
        return "vcom1 " + hex(chip->block()[3]) + " nvm " + hex(chip->nvmBlock()[3]) +
               (bridge->isOpen() ? " open" : " closed") +
               (chip->isUnlocked() ? " unlocked" : " locked");
    }
    In525Chip* chip = nullptr;
    std::shared_ptr<InnoluxBridge> bridge;
};

TEST_F(In525, HandshakeGivesUpSilentlyAfterTenFailedTries)
{
    bridge->scriptStatus(std::vector<InnoluxBridge::Status>(11, {0x05, 0x24}));
    driver->inx525_pass_through();
    EXPECT_EQ(10, count("write 0xC2 [0xE7] EA 10 01"));
    EXPECT_EQ(10, count("write 0xC2 [0xE7] EA 10 00"));
    EXPECT_EQ(10, count("read 0xE8 [0xF0] 05 24"));
    EXPECT_EQ(0, logged("INX VCom I2C Through \n\n"));
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(10u * (1000 + 20000 + 1000 + 30000 + 1000 + 20000), nowUs());
}

// The chip holds its factory block 5A 01 20 80 33 10 90 4D (VCOM1 0x80,
// VCOM2 0x90) with VCOM select 1; the caller's value is 0x0123.
TEST_F(In525, RoutinesRunTheirScheduleAndLogEachStep)
{
    const Lines handshake = R"(write 0xC2 [0xE7] EA 10 01, sleep 20000, read 0xE8 [0xF0] 05 25
        I INX Vcom status 0x5 0x25\n\n
        sleep 15000, sleep 15000
        I INX VCom I2C Through \n\n)"_lines;
    const Lines attempt = R"(write 0xE8 [0x38] B7, write 0xE8 [0x39] F6, write 0xE8 [0x49] 80
        sleep 70000, read 0xE8 [0x35] 01
        I VCOM Sel: 1\n\n
        sleep 15000, read 0xE8 [0x3A] 5A 01 20 80 33 10 90 4D
        I Initial VCOM1: 0x80\n\n
        I Initial VCOM2: 0x90\n\n
        sleep 15000
        I vcomVal: 0x23\n\n
        I vcomSel: 0x1\n\n
        I Optimized VCOM1: 0x23\n\n
        I Optimized VCOM2: 0x33\n\n
        I CRC: 0x41\n\n
        write 0xE8 [0x3A] 5A 01 20 23 33 10 33 41, sleep 70000, read 0xE8 [0x4A] 00)"_lines;
    const std::vector<RoutineRun> runs = {
        {kRead, kNoFault, 0, handshake + R"(read 0xE8 [0x3D] 80, sleep 15000
             I get VcomINX read OK bufVcomData[0] 128 \n\n)"_lines,
         "vcom1 80 nvm 80 open locked", 0x80},
        {kUpdate, kNoFault, 0, handshake + attempt + R"(
             I AdjustVcomData_inx525 get i2cStatus[0] 0x0\n\n
             I INX Vcom read i2cStatus sucess\n\n
             sleep 20000
             I IC_INX_IN525_Updata Vcom INX programme OK.\n\n)"_lines,
         "vcom1 23 nvm 80 open unlocked"},
        {kSave, kNoFault, 0, handshake + attempt + R"(
             I SaveVcomData_inx525 INX read i2cStatus[0] [0x0]\n\n
             I INX Vcom read i2cStatus sucess\n\n
             write 0xE8 [0x46] 80, sleep 500000, write 0xE8 [0x4A] 00
             I INX save Vcom sucess\n\n
             write 0xE8 [0x48] 80, sleep 20000
             I IC_INX_IN525_Save Vcom INX programme OK.\n\n)"_lines,
         "vcom1 23 nvm 23 open locked"},
    };
    expectRuns(
        runs, 0x0123, [&](const RoutineRun&) { SetUp(); }, [&] { return state(); });
    EXPECT_EQ("IC_INX_IN525_Save", site("CRC: 0x41\n\n"));
}

// Nine handshakes find the pass-through closed and the tenth open, as in the
// worst case; then each attempt meets the next scripted status.
TEST_F(In525, AttemptsFollowTheScriptedStatusesWithinTheWorstCaseWait)
{
    const std::uint64_t handshakes = 9 * 73000 + 52000, attempt = 177000, program = 502000;
    const struct {
        Routine routine;
        std::vector<std::uint8_t> statuses;
        long blockWrites, programs, again;  // again: "reset again" messages
        std::uint64_t totalUs;
    } cases[] = {
        {kRead, {}, 0, 0, 0, handshakes + 16000},
        {kUpdate, {0x95, 0x95, 0x95, 0x95, 0x95, 0x00}, 5, 0, 5, handshakes + 5 * attempt + 20000},
        {kSave, {0x95, 0x95, 0x95, 0x95, 0x95, 0x00}, 5, 0, 5, handshakes + 5 * attempt + 21000},
        {kSave,
         {0x9D, 0x9D, 0x9D, 0x9D, 0x9D},
         5,
         5,
         0,
         handshakes + 5 * (attempt + program) + 21000},
        {kSave, {0x95, 0x9D, 0x00}, 3, 2, 1, handshakes + 3 * attempt + 2 * program + 21000},
    };
    for (const auto& c : cases) {
        SetUp();
        bridge->scriptStatus(std::vector<InnoluxBridge::Status>(9, {0x00, 0x00}));
        chip->scriptStatus(c.statuses);
        EXPECT_EQ(0, run(c.routine));
        EXPECT_EQ(c.blockWrites, count("write 0xE8 [0x3A]"));
        EXPECT_EQ(c.programs, long(chip->programCount()));
        EXPECT_EQ(c.programs, count("write 0xE8 [0x4A]"));  // the status written back
        EXPECT_EQ(std::count(c.statuses.begin(), c.statuses.end(), 0x9D),
                  count("write 0xE8 [0x4A] 9D"));
        EXPECT_EQ(c.routine == kSave ? 1u : 0u, chip->lockCount());
        EXPECT_EQ(c.again, logged("INX525 Vcom i2cStatus reset again\n\n"));
        EXPECT_EQ(c.totalUs, nowUs());
    }
}

TEST_F(In525, EveryValueRoundTripsAndOnlyTheSavedOneSurvivesAPowerCycle)
{
    expectRoundTrip([&] { return chip->block()[3]; }, [](unsigned v) { return v; });
    expectPowerCycleKeeps(0x99, {"VCOM IN525 Update", " IN525 save", "VCOM IN525 read"});
}

}  // namespace
}  // namespace ze::test
