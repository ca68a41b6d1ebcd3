#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/ic/chip_catalogue.h>
#include <ze/sim/board.h>
#include <ze/sim/models/auo.h>
#include <ze/sim/models/boe.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/panel.h>
#include <ze/sim/register_file.h>
#include <ze/sim/rig.h>

#include <ze/test/temp_root.h>
#include <ze/test/timeline.h>

// Counts every allocation of the test binary and the libraries it loads.
// Kept out of line so that the compiler does not pair an inlined new with the
// free below and warn.
std::atomic<unsigned long> gAllocations{0};

__attribute__((noinline)) void* operator new(std::size_t size)
{
    ++gAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace ze::sim;
using ze::test::hexBytes;
using Bytes = std::vector<std::uint8_t>;

std::string failed(int status)
{
    return "status " + std::to_string(status);
}

I2cTarget target(std::uint8_t dev, std::optional<std::uint8_t> sub)
{
    I2cTarget t{};
    t.devAddr = dev;
    t.subAddrLen = sub ? 1 : 0;
    t.subAddr = sub.value_or(0);
    return t;
}

// A register file at 0xE8 on bus 1, or a panel on a default board; the test's
// clock, the trace and refusal reports on.
class SimBoard : public ::testing::Test {
protected:
    SimBoard()
    {
        board_->addBus(1);
        board_->attach(1, 0xE8, chip_);
        start();
    }
    Panel install(const char* chip, std::uint8_t switchType = 0)
    {
        board_ = makeDefaultBoard();
        start();
        VcomBoardConfig config;
        config.typeIdx = ze::ic::catalogue::byName(chip)->typeIdx;
        config.i2cSwitchType = switchType;
        return installPanel(*board_, config);
    }
    int write(std::uint8_t dev, std::optional<std::uint8_t> sub, Bytes data)
    {
        return board_->i2cWrite(1, target(dev, sub), data.data(),
                                static_cast<unsigned int>(data.size()));
    }
    Bytes readBytes(std::uint8_t dev, std::optional<std::uint8_t> sub, unsigned int length,
                    int* status)
    {
        Bytes buffer(length);
        *status = board_->i2cRead(1, target(dev, sub), length, buffer.data());
        return buffer;
    }
    // The bytes read, or failed(status).
    std::string read(std::uint8_t dev, std::optional<std::uint8_t> sub, unsigned int length)
    {
        int status = 0;
        const Bytes bytes = readBytes(dev, sub, length, &status);
        return status == 0 ? hexBytes(bytes.data(), length) : failed(status);
    }
    std::string reasons() const
    {
        std::string out;
        for (const Refusal& r : board_->refusals()) out += std::string(r.reason) + "; ";
        return out;
    }
    void openBridge()
    {
        ASSERT_EQ(write(kInnoluxBridgeAddr, 0xE7, {0xEA, 0x10, 0x01}), 0);
        now_ += InnoluxBridge::kSettleUs;
    }
    void unlock(std::uint8_t code1, std::uint8_t code2, std::uint8_t reset)
    {
        EXPECT_EQ(write(0xE8, code1, {InnoluxChip::kUnlockCode1}), 0);
        EXPECT_EQ(write(0xE8, code2, {InnoluxChip::kUnlockCode2}), 0);
        EXPECT_EQ(write(0xE8, reset, {InnoluxChip::kCommand}), 0);
        now_ += In525Chip::kResetUs;
    }

    std::shared_ptr<Board> board_ = std::make_shared<Board>();
    std::shared_ptr<RegisterFile> chip_ = std::make_shared<RegisterFile>();
    std::uint64_t now_ = 0;

private:
    void start()
    {
        board_->useClock([this] { return now_; });
        board_->setTraceEnabled(true);
        board_->reportRefusals(true);
    }
};

TEST_F(SimBoard, EachRefusalIsReportedWithTimeAndAddressWhileReportingIsOn)
{
    now_ = 19999;
    EXPECT_EQ(write(0x40, 0x05, {1}), kAddressNack);
    board_->setAnswering(1, 0xE9, false);  // rehearsed, not a refusal
    EXPECT_EQ(read(0xE8, 0x00, 1), failed(kAddressNack));
    ASSERT_EQ(board_->refusals().size(), 1u);
    EXPECT_EQ(formatRefusal(board_->refusals()[0]),
              "19999us bus=1 dev=0x40 status=-6: no device answers");
    board_->reportRefusals(false);
    EXPECT_EQ(write(0x40, 0x05, {1}), kAddressNack);
    EXPECT_EQ(board_->refusalCount(), 2u);
    EXPECT_EQ(board_->refusals().size(), 1u);
}

TEST_F(SimBoard, TransfersAllocateNothingWhileTheTraceIsOff)
{
    board_->setTraceEnabled(false);
    board_->addGpio(168);
    board_->onGpioChange([](unsigned int, unsigned int) {});
    const Bytes data = {1, 2, 3, 4};
    std::uint8_t buffer[4];
    const I2cTarget t = target(0xE8, 0x10);
    board_->i2cWrite(1, t, data.data(), 4);  // the phase buffer grows once
    const unsigned long before = gAllocations;
    for (int i = 0; i < 100; ++i) {
        board_->i2cWrite(1, t, data.data(), 4);
        board_->i2cRead(1, t, 4, buffer);
        board_->gpioSetValue(168, i & 1);
    }
    EXPECT_EQ(gAllocations - before, 0u);
    EXPECT_TRUE(board_->trace().empty());
}

TEST_F(SimBoard, ChipsDoNotAnswerWhileTheyProgramTheirNvmOrSettle)
{
    const struct {
        const char* chip;
        std::optional<std::uint8_t> sub;
        Bytes command;
        std::uint64_t busyUs;
        std::optional<std::uint8_t> probe;  // a readable register
    } cases[] = {
        {"kd532p", 0x00, {0x0A}, AuoChip::kKd532pProgramUs, 0x01},
        {"boe", 0xFF, {0x40}, BoeChip::kWriteBusyUs, std::nullopt},
        {"kd733", 0xFF, {0x41}, 60000, 0x2B},
        {"kd733", 0x2E, {0x10}, 20000, 0x2B},
        {"rt6966", 0x25, {0x17, 0x20}, 50000, 0x25},
        {"g1625", std::nullopt, {0x40}, 550000, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chip);
        install(c.chip);
        now_ = 1000;
        ASSERT_EQ(write(0xE8, c.sub, c.command), 0);
        now_ += c.busyUs - 1;
        EXPECT_EQ(read(0xE8, c.probe, 1), failed(kAddressNack));
        EXPECT_EQ(board_->refusalCount(), 1u);
        now_ += 1;
        int status = 0;
        readBytes(0xE8, c.probe, 1, &status);
        EXPECT_EQ(status, std::string(c.chip) == "boe" ? kDataNack : 0) << reasons();
    }
    // Power lost while programming: the NVM keeps its content, the part answers at once.
    install("kd532p");
    ASSERT_EQ(write(0xE8, 0x01, {0x34}), 0);
    ASSERT_EQ(write(0xE8, 0x00, {0x0A}), 0);
    board_->powerCycle();
    EXPECT_EQ(read(0xE8, 0x01, 1), "80") << reasons();
}

TEST_F(SimBoard, InnoluxChipsTakeOneDataWritePerUnlockAndTheIn525OnlyABlockReadBack)
{
    const Panel panel = install("in525");
    EXPECT_EQ(read(0xE8, 0x3D, 1), failed(kAddressNack)) << "answered with the pass-through off";
    openBridge();
    unlock(In525Chip::kRegUnlock1, In525Chip::kRegUnlock2, In525Chip::kRegReset);

    const In525Chip::BlockData zeros{};
    Bytes forged(zeros.begin(), zeros.end());
    forged.push_back(In525Chip::blockCrc(zeros));
    EXPECT_EQ(write(0xE8, In525Chip::kRegBlock, forged), kDataNack);
    int status = 0;
    Bytes block = readBytes(0xE8, In525Chip::kRegBlock, In525Chip::kBlockSize, &status);
    ASSERT_EQ(status, 0);
    block[0] ^= 1;
    EXPECT_EQ(write(0xE8, In525Chip::kRegBlock, block), kDataNack);
    block[0] ^= 1;
    block[In525Chip::kVcom1Byte] = 0x42;
    In525Chip::BlockData data;
    std::copy_n(block.begin(), data.size(), data.begin());
    block.back() = In525Chip::blockCrc(data);
    EXPECT_EQ(write(0xE8, In525Chip::kRegBlock, block), 0);
    now_ += In525Chip::kDataUs;
    EXPECT_EQ(write(0xE8, In525Chip::kRegBlock, block), kDataNack);
    EXPECT_EQ(heldValue(panel), 0x42u);
    EXPECT_EQ(reasons(),
              "pass-through off; block not read back since the unlock; "
              "block changed where it carries the chip's bytes; "
              "second data write without a fresh unlock; ");

    install("in518");
    openBridge();
    const std::uint8_t vcom = 0x42;
    const Bytes record = {0x01, 0x89, 0x57, vcom, In518Chip::recordCrc(vcom)};
    EXPECT_EQ(write(0xE8, In518Chip::kRegRecord, record), kDataNack);
    unlock(In518Chip::kRegUnlock1, In518Chip::kRegUnlock2, In518Chip::kRegReset);
    EXPECT_EQ(write(0xE8, In518Chip::kRegRecord, record), 0);
    now_ += In518Chip::kDataUs;
    EXPECT_EQ(write(0xE8, In518Chip::kRegRecord, record), kDataNack);
    EXPECT_EQ(reasons(), "data written while locked; second data write without a fresh unlock; ");
}

TEST_F(SimBoard, TheI2cSwitchCutsThePanelOffWhileItsLineIsLow)
{
    install("in518", kI2cSwitchTypeGpio);
    EXPECT_EQ(write(kInnoluxBridgeAddr, 0xE7, {0xEA, 0x10, 0x01}), kAddressNack);
    ASSERT_EQ(board_->gpioSetValue(kI2cSwitchGpio, 1), 0);
    openBridge();
    EXPECT_EQ(read(0xE8, 0x34, 1), "80");
    ASSERT_EQ(board_->gpioSetValue(kI2cSwitchGpio, 0), 0);
    EXPECT_EQ(read(0xE8, 0x34, 1), failed(kAddressNack));
    EXPECT_EQ(reasons(), "cut off by the open I2C switch; cut off by the open I2C switch; ");
}

TEST_F(SimBoard, TheAuoGateDecidesAccessByTheLineNotByTheCallThatSetIt)
{
    const Panel panel = install("auo");  // access level 1 on GPIO 168
    const auto& chip = static_cast<const AuoChip&>(*panel.chip);
    board_->failNth(Call::GpioSetValue, 1, -EIO);
    EXPECT_EQ(board_->gpioSetValue(168, 1), -EIO);
    EXPECT_EQ(write(0xE8, 0x01, {0x34}), kAddressNack) << "the line still rests";

    ASSERT_EQ(board_->gpioSetValue(168, 1), 0);
    now_ += AuoChip::kGateSettleUs;
    EXPECT_EQ(write(0xE8, 0x01, {0x34}), 0);
    // The line stays at the access level: a failed second open changes nothing.
    board_->failNth(Call::GpioSetValue, 1, -EIO);
    EXPECT_EQ(board_->gpioSetValue(168, 1), -EIO);
    EXPECT_EQ(write(0xE8, 0x00, {0x0A}), 0);
    EXPECT_EQ(chip.nvm(), 0x34);
    // Closed before the NVM is programmed: the old content stays.
    now_ += AuoChip::kAuoProgramUs - 1;
    ASSERT_EQ(board_->gpioSetValue(168, 0), 0);
    EXPECT_EQ(chip.nvm(), AuoChip::kFactorySetting);
    EXPECT_EQ(reasons(), "access gate closed; access gate closed while programming NVM; ");
}

TEST_F(SimBoard, TheBoeTakesOnlyCodesInItsRange)
{
    const Panel panel = install("boe");
    const struct {
        std::uint8_t reg, value;
        int status;
    } writes[] = {{0x25, 0x03, kDataNack}, {0x25, 0x00, kDataNack}, {0x25, 0x01, 0},
                  {0x26, 0x90, kDataNack}, {0x26, 0x91, 0},         {0x25, 0x02, 0},
                  {0x26, 0x91, kDataNack}, {0x26, 0x90, 0}};
    for (const auto& w : writes) {
        EXPECT_EQ(write(0xE8, w.reg, {w.value}), w.status) << hexBytes(&w.value, 1);
        now_ += BoeChip::kWriteBusyUs;
    }
    EXPECT_EQ(static_cast<const BoeChip&>(*panel.chip).code(), BoeChip::kCodeMax);
    EXPECT_EQ(heldValue(panel), 255u);
}

TEST_F(SimBoard, PanelStateSavedToAFileComesBackOnlyIntoAPanelOfTheSameChip)
{
    ze::test::TempRoot root;
    const std::string file = root.dir() + "/panel.state";
    for (const ze::ic::catalogue::ChipInfo& info : ze::ic::catalogue::kChips) {
        const char* const chip = info.name;
        SCOPED_TRACE(chip);
        Panel saved = install(chip);
        const unsigned int factory = *heldValue(saved);
        // Registers moved by different amounts change what any of the parts holds.
        if (auto* registers = dynamic_cast<RegisterFile*>(saved.chip.get())) {
            for (unsigned int r = 0; r < 256; ++r) {
                registers->setReg(static_cast<std::uint8_t>(r),
                                  static_cast<std::uint8_t>(registers->reg(r) + r));
            }
        } else if (auto* in525 = dynamic_cast<In525Chip*>(saved.chip.get())) {
            in525->setNvmBlock({1, 2, 3, 4, 5, 6, 7});
        } else if (auto* in518 = dynamic_cast<In518Chip*>(saved.chip.get())) {
            in518->setNvmVcom(0x11);
        } else {
            ASSERT_EQ(write(0xE8, std::nullopt, {0x11}), 0);
        }
        const unsigned int held = *heldValue(saved);
        EXPECT_NE(held, factory);
        ASSERT_EQ(savePanelState(saved, file), 0);

        Panel restored = install(chip);
        EXPECT_EQ(loadPanelState(restored, file), 0);
        EXPECT_EQ(heldValue(restored), held);
        Panel other = install(std::string(chip) == "boe" ? "kd733" : "boe");
        EXPECT_EQ(loadPanelState(other, file), -EINVAL);
    }
    Panel panel = install("auo");
    EXPECT_EQ(loadPanelState(panel, root.dir() + "/missing"), -ENOENT);
    std::ofstream(file) << "chip = auo\nregs = 00 01\nnvm = 00\n";
    EXPECT_EQ(loadPanelState(panel, file), -EINVAL);
    EXPECT_EQ(heldValue(panel), AuoChip::kFactorySetting);
}

TEST(SimBackend, IsBuiltFromTheBoardFilesVcomSectionOrRefusedWithErrno)
{
    ze::test::TempRoot root;
    errno = 0;
    EXPECT_EQ(ze_sim_create_backend(root.dir().c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    root.write("/obdata/model/config/board.ini", "[VCOM]\nI2cBus = 2\n");
    EXPECT_EQ(ze_sim_create_backend(root.dir().c_str()), nullptr);
    EXPECT_EQ(errno, EINVAL);

    root.write("/obdata/model/config/board.ini", "[VCOM]\nTypeIdx = 4\nI2cBus = 2\n");
    std::unique_ptr<ze::platform::SocBackend> backend(ze_sim_create_backend(root.dir().c_str()));
    ASSERT_NE(backend, nullptr);
    const I2cTarget control = target(0xE8, BoeChip::kRegControl);
    const std::uint8_t enable = BoeChip::kControlReadEnable;
    EXPECT_EQ(backend->i2cWrite(2, control, &enable, 1), 0);
    EXPECT_EQ(backend->i2cWrite(1, control, &enable, 1), kAddressNack);
}

}  // namespace

TEST(SimRig, PointsThePlatformAtItsRootWhileItLivesAndFailsInOneLine)
{
    ze::test::TempRoot outer;  // $ZE_PLATFORM_ROOT before and after
    std::string error;
    std::string temporary;
    {
        std::unique_ptr<Rig> rig = Rig::create({}, &error);
        ASSERT_NE(rig, nullptr) << error;
        rig->activate();
        temporary = rig->root();
        EXPECT_EQ(getenv("ZE_PLATFORM_ROOT"), temporary);
        EXPECT_TRUE(std::ifstream(temporary + "/obdata/model/config/board.ini").good());
        EXPECT_TRUE(std::ifstream(temporary + "/etc/fw_env.config").good());
        EXPECT_EQ(heldValue(rig->panel()), AuoChip::kFactorySetting);
    }
    EXPECT_EQ(getenv("ZE_PLATFORM_ROOT"), outer.dir());
    EXPECT_FALSE(std::ifstream(temporary + "/obdata/model/config/board.ini").good());

    RigSetup kept;
    kept.root = outer.dir() + "/kept";
    EXPECT_NE(Rig::create(kept, &error), nullptr);
    EXPECT_TRUE(std::ifstream(kept.root + "/obdata/model/config/board.ini").good());

    const struct {
        int typeIdx;
        std::string root;
        std::string error;
    } failures[] = {
        {2, "", "cannot put the panel on the simulated board: no chip model for TypeIdx 2"},
        {1, kept.root + "/obdata/model/config/board.ini/x",
         "cannot create the platform root " + kept.root +
             "/obdata/model/config/board.ini/x: Not a directory"},
    };
    for (const auto& f : failures) {
        RigSetup setup;
        setup.panel.typeIdx = f.typeIdx;
        setup.root = f.root;
        EXPECT_EQ(Rig::create(setup, &error), nullptr);
        EXPECT_EQ(error, f.error);
    }
}
