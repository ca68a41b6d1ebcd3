#include <algorithm>
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
using ze::sim::In518Chip;
using ze::sim::InnoluxBridge;
using ze::sim::PanelConfig;
using Lines = std::vector<std::string>;

constexpr int kFault = -71;

enum class Op { Read, Update, Save };

PanelConfig in518At(std::uint8_t vcomAddr)
{
    PanelConfig config;
    config.chip = ChipType::IN518;
    config.vcomAddr = vcomAddr;
    return config;
}

// "[VCOMIC]<what>, ret = <status>." as the IN518 sequences report a failed transfer.
std::string failure(const std::string& what, int status)
{
    return "[VCOMIC]" + what + ", ret = " + std::to_string(status) + ".\n\n";
}

class In518 : public ze::test::DriverTest {
protected:
    void SetUp() override
    {
        const ze::sim::Panel panel = install(in518At(0xE8));
        chip = std::dynamic_pointer_cast<In518Chip>(panel.chip);
        bridge = std::dynamic_pointer_cast<InnoluxBridge>(panel.bridge);
        ASSERT_TRUE(chip && bridge);
    }

    int run(Op op, unsigned short* value)
    {
        switch (op) {
        case Op::Read: return driver->IC_INX_IN518_Read(value);
        case Op::Update: return driver->IC_INX_IN518_Updata(value);
        case Op::Save: return driver->IC_INX_IN518_Save(value);
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

    long count(const std::string& prefix) const
    {
        const Lines all = events();
        return std::count_if(all.begin(), all.end(),
                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }

    // The routine's own failure reports, without the transport's and the value echo.
    Lines ownErrors() const
    {
        Lines out;
        for (const std::string& m : log.bodies(QOR_DEBUG_LEVEL_ERROR)) {
            if (m.rfind("[VCOMIC] ", 0) != 0) out.push_back(m);
        }
        return out;
    }

    std::shared_ptr<In518Chip> chip;
    std::shared_ptr<InnoluxBridge> bridge;
};

TEST_F(In518, SequencesSendTheRecordWithItsTableCrcAndCloseThePassThrough)
{
    const char* const open = "write 0xC2 [0xE7] EA 10 01 -> 0";
    const char* const close = "write 0xC2 [0xE7] EA 10 00 -> 0";
    const struct {
        Op op;
        unsigned short value;
        Lines steps;
        Lines bodies;
        std::uint8_t vcomAfter, nvmAfter;
    } cases[] = {
        {Op::Read, 0, {open, "sleep 20000", "read 0xE8 [0x34] 80 -> 0", "sleep 15000", close},
         {"[DR_VCOM]Vcom read For InnoLux518...\n"}, 0x80, 0x80},
        {Op::Update, 0x1FF,
         {open, "sleep 20000", "write 0xE8 [0x2F] B7 -> 0", "write 0xE8 [0x30] F6 -> 0",
          "write 0xE8 [0x3D] 80 -> 0", "sleep 70000", "write 0xE8 [0x31] 01 89 57 FF AC -> 0",
          "sleep 20000", "read 0xE9 [0x3D] 00 -> 0", "sleep 20000", close},
         {"[VCOMIC] IC_INX_IN518_Updata = 0x1ff.\n", "[DR_VCOM]Vcom Updata For InnoLux518...\n",
          "[DR_VCOM]INX518 Vcom read i2cStatus sucess.\n\n"},
         0xFF, 0x80},
        {Op::Save, 0x0042,
         {"sleep 10000", open, "sleep 20000", "write 0xE8 [0x2F] B7 -> 0",
          "write 0xE8 [0x30] F6 -> 0", "write 0xE8 [0x3D] 80 -> 0", "sleep 70000",
          "write 0xE8 [0x31] 01 89 57 42 B6 -> 0", "sleep 20000", "read 0xE9 [0x3D] 00 -> 0",
          "write 0xE8 [0x3A] 80 -> 0", "sleep 260000", "write 0xE8 [0x3D] 00 -> 0",
          "write 0xE8 [0x3C] 80 -> 0", "sleep 20000", close, "sleep 20000"},
         {"[VCOMIC] IC_INX_IN518_Save = 0x42.\n", "[DR_VCOM]Vcom save For InnoLux518...\n",
          "[DR_VCOMINX Vcom write data [0x42] \n\n", "[DR_VCOM]INX Vcom save i2cStatus success.\n\n",
          "[DR_VCOM]INX save Vcom sucess.\n\n"},
         0x42, 0x42},
    };
    for (const auto& c : cases) {
        board->powerCycle();
        resetRecords();
        unsigned short value = c.value;
        EXPECT_EQ(0, run(c.op, &value));
        EXPECT_EQ(c.steps, steps());
        EXPECT_EQ(c.bodies, log.bodies());
        EXPECT_EQ(c.vcomAfter, chip->vcom());
        EXPECT_EQ(c.nvmAfter, chip->nvmVcom());
        EXPECT_FALSE(bridge->isOpen());
    }
}

TEST_F(In518, ChipTakesARecordOnlyWithItsCrcAndAnswersTheRefusalThroughItsStatus)
{
    driver->inx525_pass_enable();
    for (unsigned char crc : {0x00, 0xB6}) {
        unsigned char unlock[][2] = {{0x2F, 0xB7}, {0x30, 0xF6}, {0x3D, 0x80}};
        for (auto& step : unlock) driver->writeNumBytes(0xE8, 1, step[0], &step[1], 1);
        unsigned char record[] = {0x01, 0x89, 0x57, 0x42, crc};
        unsigned char status = 0xEE;
        EXPECT_EQ(0, driver->writeNumBytes(0xE8, 1, 0x31, record, sizeof record));
        EXPECT_EQ(0, driver->readNumBytes(0xE9, 1, 0x3D, &status, 1));
        EXPECT_EQ(crc == 0xB6 ? 0x00 : 0x5D, status);
        EXPECT_EQ(crc == 0xB6 ? 0x42 : 0x80, chip->vcom());
    }
}

TEST_F(In518, ReadAndSaveRefuseANullValueWithoutTouchingTheBus)
{
    EXPECT_EQ(-1, driver->IC_INX_IN518_Read(nullptr));
    EXPECT_EQ(-1, driver->IC_INX_IN518_Save(nullptr));
    EXPECT_EQ((Lines{"value is null!!\n", "value is null!!\n"}), log.bodies(QOR_DEBUG_LEVEL_ERROR));
    EXPECT_TRUE(events().empty());
}

TEST_F(In518, AttemptsFollowTheScriptedStatuses)
{
    const struct {
        const char* name;
        Op op;
        std::vector<std::uint8_t> statuses;
        long recordWrites;
        unsigned int programs;
        const char* again;
    } cases[] = {
        {"update repeats five times", Op::Update, {0x5D, 0x5D, 0x5D, 0x5D, 0x5D, 0x00}, 5, 0,
         "[DR_VCOM]INX518 Vcom  Vcom i2cStatus reset again.\n\n"},
        {"save never programs on 0x5D", Op::Save, {0x5D, 0x5D, 0x5D, 0x5D, 0x5D, 0x00}, 5, 0,
         "[DR_VCOM]INX518 Vcom i2cStatus reset again.\n\n"},
        {"save programs five times on 0x65", Op::Save, {0x65, 0x65, 0x65, 0x65, 0x65}, 5, 5, nullptr},
        {"save stops after programming", Op::Save, {0x5D, 0x65, 0x00}, 3, 2, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        board->powerCycle();
        resetRecords();
        chip->scriptStatus(c.statuses);
        const unsigned int programs = chip->programCount(), locks = chip->lockCount();
        unsigned short value = 0x42;
        EXPECT_EQ(0, run(c.op, &value));
        EXPECT_EQ(c.recordWrites, count("write 0xE8 [0x31]"));
        EXPECT_EQ(c.programs, chip->programCount() - programs);
        EXPECT_EQ(long(c.programs), count("sleep 260000"));
        EXPECT_EQ(c.op == Op::Save ? 1u : 0u, chip->lockCount() - locks);
        if (c.again) {
            const Lines info = log.bodies(QOR_DEBUG_LEVEL_INFO);
            EXPECT_EQ(5, std::count(info.begin(), info.end(), c.again));
        }
    }
}

TEST_F(In518, AFailedFirstStatusReadInASaveStillProgramsAndWritesZeroBack)
{
    board->failNth(Call::I2CRead, 1, kFault);
    unsigned short value = 0x42;
    EXPECT_EQ(0, run(Op::Save, &value));
    EXPECT_EQ(1u, chip->programCount());
    EXPECT_EQ(1, count("write 0xE8 [0x3D] 00 -> 0"));
    EXPECT_EQ(1, count("write 0xE8 [0x31]"));
    EXPECT_EQ(0x42, chip->nvmVcom());
}

using In518Elsewhere = ze::test::DriverTest;

TEST_F(In518Elsewhere, StatusIsReadAtTheAddressPlusOneWrappingAt256)
{
    install(in518At(0xFF));
    unsigned short value = 0x42;
    EXPECT_EQ(ze::sim::kAddressNack, driver->IC_INX_IN518_Updata(&value));
    EXPECT_EQ(std::string("read 0x00 [0x3D]  -> ") + std::to_string(ze::sim::kAddressNack),
              events().back());
    EXPECT_EQ(failure("INX518_Update Vcom read i2cStatus fail", ze::sim::kAddressNack),
              log.bodies(QOR_DEBUG_LEVEL_ERROR).back());
}

TEST_F(In518, WaitsAddUpToTheWorstCaseInVirtualTime)
{
    const struct {
        Op op;
        std::vector<std::uint8_t> statuses;
        std::uint64_t totalUs;
    } cases[] = {
        {Op::Read, {}, 38000},
        {Op::Update, {0x5D, 0x5D, 0x5D, 0x5D, 0x5D}, 21000 + 5 * 95000 + 21000},
        {Op::Save, {0x65, 0x65, 0x65, 0x65, 0x65}, 10000 + 21000 + 5 * 357000 + 21000 + 21000},
    };
    for (const auto& c : cases) {
        board->powerCycle();
        resetRecords();
        chip->scriptStatus(c.statuses);
        unsigned short value = 0x42;
        run(c.op, &value);
        EXPECT_EQ(c.totalUs, ze::test::nowUs());
    }
}

// One transfer fails: the sequence ends with this result, these reports and
// the pass-through left so. Refusals of the locked model that follow count too.
struct Fault {
    std::string name;
    Op op;
    Call call;
    unsigned int nth;
    std::string failed;
    int result;
    Lines errors;
    bool leftOpen;
};

std::vector<Fault> faults()
{
    const int nack = ze::sim::kDataNack;
    const std::string enable = "write 0xC2 [0xE7] EA 10 01", disable = "write 0xC2 [0xE7] EA 10 00";
    const std::string closeFailed = failure("INX518_Save Vcom Pass1Disabe fail", kFault);
    const auto lockedSave = [&](const char* step) {
        return Lines{failure(step, kFault), failure("INX518_Save Vcom write bufVcomData fail", nack),
                     failure("INX518_Save Vcom  write bufSaveMTPCommand fail", nack)};
    };
    return {
        {"ReadEnable", Op::Read, Call::I2CWrite, 1, enable, kFault,
         {failure("INX518 Vcom enable1 fail", kFault)}, false},
        {"ReadValue", Op::Read, Call::I2CRead, 1, "read 0xE8 [0x34]", kFault,
         {failure("INX518 Vcom value fail", kFault)}, true},
        {"ReadDisable", Op::Read, Call::I2CWrite, 2, disable, kFault, {closeFailed}, true},

        {"UpdateEnable", Op::Update, Call::I2CWrite, 1, enable, kFault, {}, false},
        {"UpdateUnlock1", Op::Update, Call::I2CWrite, 2, "write 0xE8 [0x2F]", kFault,
         {failure("INX518_Update Vcom bufUnlock1Command fail", kFault)}, true},
        {"UpdateUnlock2", Op::Update, Call::I2CWrite, 3, "write 0xE8 [0x30]", kFault,
         {failure("INX518_Update Vcom bufUnlock2Command fail", kFault)}, true},
        {"UpdateReset", Op::Update, Call::I2CWrite, 4, "write 0xE8 [0x3D]", kFault,
         {failure("INX518_Update Vcom reset fail", kFault)}, true},
        {"UpdateRecord", Op::Update, Call::I2CWrite, 5, "write 0xE8 [0x31]", kFault,
         {failure("INX518_Update Vcom bufVcomData fail", kFault)}, true},
        {"UpdateStatus", Op::Update, Call::I2CRead, 1, "read 0xE9 [0x3D]", kFault,
         {failure("INX518_Update Vcom read i2cStatus fail", kFault)}, true},
        {"UpdateDisable", Op::Update, Call::I2CWrite, 6, disable, kFault, {closeFailed}, true},

        {"SaveEnable", Op::Save, Call::I2CWrite, 1, enable, kFault, {}, false},
        {"SaveUnlock1", Op::Save, Call::I2CWrite, 2, "write 0xE8 [0x2F]", 0,
         lockedSave("INX518_Save Vcom bufUnlock1Command fail"), false},
        {"SaveUnlock2", Op::Save, Call::I2CWrite, 3, "write 0xE8 [0x30]", 0,
         lockedSave("INX518_Save Vcom bufUnlock2Command fail"), false},
        {"SaveReset", Op::Save, Call::I2CWrite, 4, "write 0xE8 [0x3D]", 0,
         lockedSave("INX518_Save Vcom bufResetCommand fail"), false},
        {"SaveRecord", Op::Save, Call::I2CWrite, 5, "write 0xE8 [0x31]", 0,
         {failure("INX518_Save Vcom write bufVcomData fail", kFault)}, false},
        {"SaveStatus", Op::Save, Call::I2CRead, 1, "read 0xE9 [0x3D]", 0,
         {failure("INX518_Save Vcom  read i2cStatus fail", kFault)}, false},
        {"SaveMtp", Op::Save, Call::I2CWrite, 6, "write 0xE8 [0x3A]", 0,
         {failure("INX518_Save Vcom  write bufSaveMTPCommand fail", kFault)}, false},
        {"SaveStatusWriteBack", Op::Save, Call::I2CWrite, 7, "write 0xE8 [0x3D] 00", 0,
         {failure("INX518_Save Vcom  write i2cStatus fail", kFault)}, false},
        {"SaveLock", Op::Save, Call::I2CWrite, 8, "write 0xE8 [0x3C]", 0, {}, false},
        {"SaveDisable", Op::Save, Call::I2CWrite, 9, disable, kFault, {closeFailed}, true},
    };
}

void PrintTo(const Fault& param, std::ostream* os)
{
    *os << param.name;
}

class In518Fault : public In518, public ::testing::WithParamInterface<Fault> {};

TEST_P(In518Fault, SequenceEndsWithTheRightResultMessagesAndPassThrough)
{
    const Fault& f = GetParam();
    board->failNth(f.call, f.nth, kFault);
    unsigned short value = 0x42;
    EXPECT_EQ(f.result, run(f.op, &value));
    const Lines all = events();
    const auto failed = std::find_if(all.begin(), all.end(), [](const std::string& e) {
        return e.size() > 7 && e.compare(e.size() - 7, 7, " -> -71") == 0;
    });
    ASSERT_NE(all.end(), failed);
    EXPECT_EQ(0u, failed->rfind(f.failed, 0)) << *failed;
    EXPECT_EQ(f.errors, ownErrors());
    EXPECT_EQ(f.leftOpen, bridge->isOpen());
    if (f.op == Op::Read) {
        EXPECT_EQ(f.name == "ReadDisable" ? 0x80 : 0x42, value);
    }
    if (f.name == "SaveLock") {
        EXPECT_EQ("[DR_VCOM]INX518 save Vcom lock error.\n\n", log.bodies(QOR_DEBUG_LEVEL_INFO).back());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTransfer, In518Fault, ::testing::ValuesIn(faults()),
                         [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

}  // namespace
