#include <algorithm>
#include <array>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/models/innolux.h>

#include "driver_fixture.h"

namespace {

using ze::sim::Call;
using ze::sim::ChipType;
using ze::sim::In525Chip;
using ze::sim::InnoluxBridge;
using ze::sim::PanelConfig;
using Lines = std::vector<std::string>;

constexpr int kFault = -71;
const std::string kHandshake[] = {"write 0xC2 [0xE7] EA 10 01 -> 0", "sleep 20000",
                                  "read 0xE8 [0xF0] 05 25 -> 0", "sleep 15000", "sleep 15000"};

enum class Op { Read, Update, Save };

// The function a message is attributed to in its "file:line:function(): " prefix.
std::string emitter(const ze::test::LogCapture& log, const std::string& body)
{
    for (const ze::test::LogMessage& m : log.messages()) {
        if (ze::test::stripPrefix(m.text) != body) continue;
        const std::string::size_type end = m.text.find("(): ");
        const std::string::size_type start = m.text.rfind(':', end) + 1;
        return m.text.substr(start, end - start);
    }
    return "";
}

class In525 : public ze::test::DriverTest {
protected:
    void SetUp() override
    {
        PanelConfig config;
        config.chip = ChipType::IN525;
        const ze::sim::Panel panel = install(config);
        chip = std::dynamic_pointer_cast<In525Chip>(panel.chip);
        bridge = std::dynamic_pointer_cast<InnoluxBridge>(panel.bridge);
        ASSERT_TRUE(chip && bridge);
    }

    int run(Op op, unsigned short* value)
    {
        switch (op) {
        case Op::Read: return driver->IC_INX_IN525_Read(value);
        case Op::Update: return driver->IC_INX_IN525_Updata(value);
        case Op::Save: return driver->IC_INX_IN525_Save(value);
        }
        return 0;
    }

    // Waits and transfers, without the transport's 1 ms pause in front of each.
    Lines steps() const
    {
        Lines out = events();
        out.erase(std::remove(out.begin(), out.end(), "sleep 1000"), out.end());
        return out;
    }

    Lines startingWith(const std::vector<std::string>& prefixes) const
    {
        Lines out;
        for (const std::string& e : events()) {
            for (const std::string& p : prefixes) {
                if (e.rfind(p, 0) == 0) out.push_back(e);
            }
        }
        return out;
    }

    long count(const std::string& prefix) const { return startingWith({prefix}).size(); }

    // The routine's own error messages, without the transport's reports.
    Lines ownErrors() const
    {
        Lines out;
        for (const std::string& m : log.bodies(QOR_DEBUG_LEVEL_ERROR)) {
            if (m.rfind("[VCOMIC] ", 0) != 0) out.push_back(m);
        }
        return out;
    }

    std::shared_ptr<In525Chip> chip;
    std::shared_ptr<InnoluxBridge> bridge;
};

TEST_F(In525, CalcVcomMovesVcom2AlongWithVcom1OnlyUnderSelect1)
{
    const struct {
        unsigned char select, vcom1, vcom2, value;
        bool selectUnreadable;
        unsigned char vcom2After;
    } cases[] = {
        {1, 0x80, 0x90, 0x85, false, 0x95},
        {1, 0x10, 0x05, 0xF0, false, 0xE5},
        {0, 0x80, 0x90, 0x85, false, 0x90},
        {2, 0x80, 0x90, 0x85, false, 0x90},
        {1, 0x80, 0x90, 0x85, true, 0x90},
    };
    driver->inx525_pass_enable();
    for (const auto& c : cases) {
        board->clearFaults();
        if (c.selectUnreadable) board->failMatching(0xE8, 0x35, kFault);
        chip->setNvmBlock({0x11, 0x22, 0x33, c.vcom1, 0x44, 0x55, c.vcom2});
        chip->setVcomSelect(c.select);
        std::array<unsigned char, 8> block{};
        EXPECT_EQ(0, driver->inx525_calc_vcom(block.data(), c.value));
        const In525Chip::BlockData data = {0x11, 0x22, 0x33, c.value, 0x44, 0x55, c.vcom2After};
        EXPECT_EQ((std::array<unsigned char, 8>{0x11, 0x22, 0x33, c.value, 0x44, 0x55,
                                                c.vcom2After, In525Chip::blockCrc(data)}),
                  block);
    }
}

TEST_F(In525, ChipTakesABlockOnlyWithItsCrcAndAnswersTheRefusalThroughItsStatus)
{
    driver->inx525_pass_through();
    driver->inx525_unlock();
    for (unsigned char crc : {0x00, 0xAA}) {
        unsigned char block[] = {0x5A, 0x01, 0x20, 0x85, 0x33, 0x10, 0x95, crc};
        unsigned char status = 0xEE;
        EXPECT_EQ(0, driver->writeNumBytes(0xE8, 1, 0x3A, block, sizeof block));
        EXPECT_EQ(0, driver->readNumBytes(0xE8, 1, 0x4A, &status, 1));
        EXPECT_EQ(crc == 0xAA ? 0x00 : 0x95, status);
        EXPECT_EQ(crc == 0xAA ? 0x85 : 0x80, chip->block()[3]);
    }
}

TEST_F(In525, ReadReturnsVcom1AndLeavesThePassThroughOpen)
{
    unsigned short value = 0xFFFF;
    EXPECT_EQ(0, run(Op::Read, &value));
    EXPECT_EQ(0x80, value);
    Lines expected(std::begin(kHandshake), std::end(kHandshake));
    expected.insert(expected.end(), {"read 0xE8 [0x3D] 80 -> 0", "sleep 15000"});
    EXPECT_EQ(expected, steps());
    EXPECT_EQ((Lines{"INX Vcom status 0x5 0x25\n\n", "INX VCom I2C Through \n\n",
                     "get VcomINX read OK bufVcomData[0] 128 \n\n"}),
              log.bodies());
    EXPECT_TRUE(bridge->isOpen());
}

TEST_F(In525, UpdateWritesTheLowByteInOneComposedBlockAndReportsEachStep)
{
    unsigned short value = 0x0123;
    EXPECT_EQ(0, run(Op::Update, &value));
    EXPECT_EQ((In525Chip::Block{0x5A, 0x01, 0x20, 0x23, 0x33, 0x10, 0x33, 0x41}), chip->block());
    EXPECT_EQ(0x80, chip->nvmBlock()[3]);
    EXPECT_EQ((Lines{"INX Vcom status 0x5 0x25\n\n", "INX VCom I2C Through \n\n", "VCOM Sel: 1\n\n",
                     "Initial VCOM1: 0x80\n\n", "Initial VCOM2: 0x90\n\n", "vcomVal: 0x23\n\n",
                     "vcomSel: 0x1\n\n", "Optimized VCOM1: 0x23\n\n", "Optimized VCOM2: 0x33\n\n",
                     "CRC: 0x41\n\n", "AdjustVcomData_inx525 get i2cStatus[0] 0x0\n\n",
                     "INX Vcom read i2cStatus sucess\n\n",
                     "IC_INX_IN525_Updata Vcom INX programme OK.\n\n"}),
              log.bodies());
    EXPECT_EQ("sleep 20000", steps().back());
    EXPECT_EQ("IC_INX_IN525_Updata", emitter(log, "Optimized VCOM1: 0x23\n\n"));
}

TEST_F(In525, SaveProgramsTheBlockAndLocksTheChip)
{
    unsigned short value = 0x85;
    EXPECT_EQ(0, run(Op::Save, &value));
    Lines expected(std::begin(kHandshake), std::end(kHandshake));
    for (const char* line :
         {"write 0xE8 [0x38] B7 -> 0", "write 0xE8 [0x39] F6 -> 0", "write 0xE8 [0x49] 80 -> 0",
          "sleep 70000", "read 0xE8 [0x35] 01 -> 0", "sleep 15000",
          "read 0xE8 [0x3A] 5A 01 20 80 33 10 90 4D -> 0", "sleep 15000",
          "write 0xE8 [0x3A] 5A 01 20 85 33 10 95 AA -> 0", "sleep 70000",
          "read 0xE8 [0x4A] 00 -> 0", "write 0xE8 [0x46] 80 -> 0", "sleep 500000",
          "write 0xE8 [0x4A] 00 -> 0", "write 0xE8 [0x48] 80 -> 0", "sleep 20000"}) {
        expected.push_back(line);
    }
    EXPECT_EQ(expected, steps());
    const Lines bodies = log.bodies();
    EXPECT_EQ((Lines{"SaveVcomData_inx525 INX read i2cStatus[0] [0x0]\n\n",
                     "INX Vcom read i2cStatus sucess\n\n", "INX save Vcom sucess\n\n",
                     "IC_INX_IN525_Save Vcom INX programme OK.\n\n"}),
              Lines(bodies.end() - 4, bodies.end()));
    EXPECT_EQ("IC_INX_IN525_Save", emitter(log, "CRC: 0xAA\n\n"));
    EXPECT_EQ(chip->block(), chip->nvmBlock());
    EXPECT_FALSE(chip->isUnlocked());
}

TEST_F(In525, AttemptsFollowTheScriptedStatuses)
{
    const struct {
        const char* name;
        Op op;
        std::vector<std::uint8_t> statuses;
        long blockWrites;
        Lines writeBacks;  // one per programming cycle
        const char* again;  // the message of a status that asks for another attempt
    } cases[] = {
        {"update repeats five times", Op::Update, {0x95, 0x95, 0x95, 0x95, 0x95, 0x00}, 5, {},
         "INX525 Vcom i2cStatus reset again\n\n"},
        {"update stops at a taken block", Op::Update, {0x95, 0x95, 0x00}, 3, {}, nullptr},
        {"save never programs on 0x95", Op::Save, {0x95, 0x95, 0x95, 0x95, 0x95}, 5, {}, nullptr},
        {"save programs five times on 0x9D", Op::Save, {0x9D, 0x9D, 0x9D, 0x9D, 0x9D}, 5,
         Lines(5, "write 0xE8 [0x4A] 9D -> 0"), nullptr},
        {"save stops after programming", Op::Save, {0x95, 0x9D, 0x00}, 3,
         {"write 0xE8 [0x4A] 9D -> 0", "write 0xE8 [0x4A] 00 -> 0"}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        board->powerCycle();
        resetRecords();
        chip->scriptStatus(c.statuses);
        const unsigned int programs = chip->programCount(), locks = chip->lockCount();
        unsigned short value = 0x42;
        EXPECT_EQ(0, run(c.op, &value));
        EXPECT_EQ(c.blockWrites, count("write 0xE8 [0x3A]"));
        EXPECT_EQ(c.writeBacks, startingWith({"write 0xE8 [0x4A]"}));
        EXPECT_EQ(c.writeBacks.size(), chip->programCount() - programs);
        EXPECT_EQ(c.op == Op::Save ? 1u : 0u, chip->lockCount() - locks);
        const Lines info = log.bodies(QOR_DEBUG_LEVEL_INFO);
        EXPECT_EQ(c.op == Op::Save ? "IC_INX_IN525_Save Vcom INX programme OK.\n\n"
                                   : "IC_INX_IN525_Updata Vcom INX programme OK.\n\n",
                  info.back());
        if (c.again) {
            EXPECT_EQ(5, std::count(info.begin(), info.end(), c.again));
        }
    }
}

TEST_F(In525, ABlockThatCannotBeReadIsNeverWrittenYetCountsAsAnAttempt)
{
    board->failMatching(0xE8, 0x3A, kFault);
    unsigned short value = 0x85;
    EXPECT_EQ(kFault, run(Op::Update, &value));
    EXPECT_EQ(5, count("write 0xE8 [0x38]"));
    EXPECT_EQ(0, count("write 0xE8 [0x3A]"));
    const Lines info = log.bodies(QOR_DEBUG_LEVEL_INFO);
    EXPECT_EQ(5, std::count(info.begin(), info.end(), "inx525_calc_vcom error\n\n"));

    resetRecords();
    EXPECT_EQ(0, run(Op::Save, &value));
    EXPECT_EQ(0, count("write 0xE8 [0x3A]"));
    EXPECT_EQ(0u, chip->programCount());
    EXPECT_EQ(1u, chip->lockCount());
}

TEST_F(In525, AFailedFirstStatusReadRepeatsTheAttemptInsteadOfProgramming)
{
    board->failNth(Call::I2CRead, 4, kFault);  // pass-through status, select, block, status
    unsigned short value = 0x85;
    EXPECT_EQ(0, run(Op::Save, &value));
    EXPECT_EQ((Lines{"write 0xE8 [0x3A] 5A 01 20 85 33 10 95 AA -> 0",
                     "write 0xE8 [0x3A] 5A 01 20 85 33 10 95 AA -> 0", "write 0xE8 [0x46] 80 -> 0"}),
              startingWith({"write 0xE8 [0x3A]", "write 0xE8 [0x46]"}));
    EXPECT_EQ(1u, chip->programCount());
}

TEST_F(In525, WaitsAddUpToTheWorstCaseInVirtualTime)
{
    const struct {
        const char* name;
        Op op;
        int closedHandshakes;
        std::vector<std::uint8_t> statuses;
        std::uint64_t totalUs;
    } cases[] = {
        {"read", Op::Read, 0, {}, 68000},
        {"update", Op::Update, 9, {0x95, 0x95, 0x95, 0x95, 0x95}, 9 * 73000 + 52000 + 5 * 177000 + 20000},
        {"save", Op::Save, 9, {0x9D, 0x9D, 0x9D, 0x9D, 0x9D}, 9 * 73000 + 52000 + 5 * 679000 + 21000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        board->powerCycle();
        resetRecords();
        bridge->scriptStatus(std::vector<InnoluxBridge::Status>(c.closedHandshakes, {0x00, 0x00}));
        chip->scriptStatus(c.statuses);
        unsigned short value = 0x42;
        run(c.op, &value);
        EXPECT_EQ(c.totalUs, ze::test::nowUs());
    }
    EXPECT_GT(ze::test::nowUs(), 4100000u);  // the save
}

// One transfer of a sequence fails; the sequence runs on, with the model's
// refusals that follow from it, and ends with this result and these errors.
struct Fault {
    std::string name;
    Op op;
    Call call;
    unsigned int nth;
    std::string failed;
    int result;
    Lines errors;
};

std::vector<Fault> faults()
{
    const char* const enable = "INX Vcom enable1 error\n\n";
    const char* const status = "INX Vcom read i2cStatus0 error\n\n";
    const char* const blockWrite = "INX Vcom write data command error\n\n";
    std::vector<Fault> out = {
        {"ReadEnable", Op::Read, Call::I2CWrite, 1, "write 0xC2 [0xE7] EA 10 01", 0, {enable, status}},
        {"ReadCheck", Op::Read, Call::I2CRead, 1, "read 0xE8 [0xF0]", 0, {status}},
        {"ReadVcom", Op::Read, Call::I2CRead, 2, "read 0xE8 [0x3D]", kFault,
         {"read VcomINX read failed \n\n"}},
    };
    for (Op op : {Op::Update, Op::Save}) {
        const std::string sequence = op == Op::Update ? "Update" : "Save";
        const auto add = [&](const char* name, Call call, unsigned int nth, const char* failed,
                             Lines errors) {
            out.push_back({sequence + name, op, call, nth, failed, 0, std::move(errors)});
        };
        add("Enable", Call::I2CWrite, 1, "write 0xC2 [0xE7] EA 10 01", {enable, status});
        add("Check", Call::I2CRead, 1, "read 0xE8 [0xF0]", {status});
        add("Unlock1", Call::I2CWrite, 2, "write 0xE8 [0x38]",
            {"INX Vcom bufUnlock1Command error\n\n", blockWrite});
        add("Unlock2", Call::I2CWrite, 3, "write 0xE8 [0x39]",
            {"INX Vcom bufUnlock2Command error\n\n", blockWrite});
        add("Reset", Call::I2CWrite, 4, "write 0xE8 [0x49]", {"INX Vcom reset error\n\n", blockWrite});
        add("Select", Call::I2CRead, 2, "read 0xE8 [0x35]", {});
        add("BlockRead", Call::I2CRead, 3, "read 0xE8 [0x3A]", {});
        add("BlockWrite", Call::I2CWrite, 5, "write 0xE8 [0x3A]", {blockWrite});
        add("Status", Call::I2CRead, 4, "read 0xE8 [0x4A]", {status});
    }
    out.push_back({"SaveProgram", Op::Save, Call::I2CWrite, 6, "write 0xE8 [0x46]", 0, {}});
    out.push_back({"SaveStatusWriteBack", Op::Save, Call::I2CWrite, 7, "write 0xE8 [0x4A]", 0,
                   {"INX save Vcom write i2cstatus error\n\n"}});
    out.push_back({"SaveLock", Op::Save, Call::I2CWrite, 8, "write 0xE8 [0x48]", kFault,
                   {"INX save Vcom lock error\n\n"}});
    return out;
}

void PrintTo(const Fault& param, std::ostream* os)
{
    *os << param.name;
}

class In525Fault : public In525, public ::testing::WithParamInterface<Fault> {};

TEST_P(In525Fault, SequenceEndsWithTheRightResultAndMessages)
{
    const Fault& f = GetParam();
    board->failNth(f.call, f.nth, kFault);
    unsigned short value = 0x85;
    EXPECT_EQ(f.result, run(f.op, &value));
    const Lines all = events();
    const auto failed = std::find_if(all.begin(), all.end(), [](const std::string& e) {
        return e.size() > 7 && e.compare(e.size() - 7, 7, " -> -71") == 0;
    });
    ASSERT_NE(all.end(), failed);
    EXPECT_EQ(0u, failed->rfind(f.failed, 0)) << *failed;
    EXPECT_EQ(f.errors, ownErrors());
    if (f.op == Op::Read) {
        EXPECT_EQ(f.result == 0 ? 0x80 : 0x85, value);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTransfer, In525Fault, ::testing::ValuesIn(faults()),
                         [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

}  // namespace
