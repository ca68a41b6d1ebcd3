// vcomctl on the simulated board, in-process: the real driver and platform,
// the virtual clock instead of sleeps.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/platform/soc_backend.h>
#include <ze/sim/board.h>
#include <ze/sim/panel.h>
#include <ze/test/virtual_clock.h>

#include "app.h"
#include "driver_log.h"
#include "runner.h"
#include "session.h"

namespace vcomctl {
namespace test {
namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// The clock starts at 0 for every run, so trace times are exact.
ToolRun runTool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    ze::test::resetClock();
    const int status = runVcomctl(args, Io{out, err, false, [] { return ze::test::nowUs(); }});
    return ToolRun{status, out.str(), err.str()};
}

// A temporary directory, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const char* tmp = getenv("TMPDIR");
        path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vcomctl-XXXXXX";
        if (mkdtemp(&path_[0]) == nullptr) std::abort();
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    void write(const std::string& relative, const std::string& text) const
    {
        const std::filesystem::path file = path_ + "/" + relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    std::string read(const std::string& relative) const
    {
        std::ifstream in(path_ + "/" + relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

std::string boardFile(int typeIdx)
{
    return "[VCOM]\nTypeIdx = " + std::to_string(typeIdx) +
           "\nI2cBus = 1\nVcomAddr = 0xE8\nGpioAddr = 168\nGpioStatus = 1\nLdmFlag = 0\n";
}

TEST(ACommandList, IsAppliedInOrderToOneBringUp)
{
    // The simulated chip lives for one run only: the second read sees the update.
    const ToolRun run = runTool({"--sim", "rt6966", "read", "update", "0x80", "read"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out, "read: 142 (0x8E)\nupdate 0x80: ok\nread: 128 (0x80)\n");
    EXPECT_EQ(run.err, "");
}

TEST(ACommandList, WithJsonPrintsOneObjectForTheWholeRun)
{
    const ToolRun run = runTool({"--sim", "rt6966", "--json", "update", "653", "read", "chips"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find(",{\"command\":\"chips\"")),
              R"({"ok":true,"backend":"sim","root":null,"chip":"rt6966",)"
              R"("init":{"command":"init","ok":true,"status":0},"results":[)"
              R"({"command":"update","ok":true,"value":653,"status":0},)"
              R"({"command":"read","ok":true,"value":653})");
    EXPECT_TRUE(contains(run.out, R"({"TypeIdx":6,"name":"rt6966","update_max":653,"save_max":255})"));
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
}

TEST(ACommandList, WithTraceShowsTheBusTrafficOfEachOperation)
{
    const ToolRun run = runTool({"--sim", "rt6966", "--trace", "update", "0x80", "pattern", "on"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out,
              "init: ok\n"
              "       0.000 ms  O  open bus 1 mode 1                          ok\n"
              "update 0x80: ok\n"
              "       1.000 ms  W  bus 1  dev 0xE8  reg 0x25  data 1F         ok\n"
              "       2.000 ms  W  bus 1  dev 0xE8  reg 0x26  data 20         ok\n"
              "pattern on: ok\n"
              "       0.000 ms  D  free-run get: 0                            ok\n"
              "       0.000 ms  D  free-run set 2                             ok\n");
}

TEST(ACommandList, RunsNothingWhenTheBringUpFails)
{
    // No I2C adapter behind bus 1 here: the driver's init cannot open it.
    TempDir root;
    root.write("etc/zeplatform.conf", "[soc]\nbackend = linux\n[i2c]\nbuses = 1\n");
    root.write("obdata/model/config/board.ini", boardFile(6));
    const ToolRun run = runTool({"--root", root.path(), "save", "5", "update", "5"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(contains(run.err, "\nvcomctl: driver initialization failed: cannot open I2C bus 1"))
        << run.err;
}

TEST(TheRt6966Save, StoresTheValueInTheEnvironmentUnderTheRoot)
{
    TempDir root;
    const ToolRun run = runTool({"--root", root.path(), "--sim", "rt6966", "save", "200"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    const std::string env = root.read("var/uboot.env") + root.read("var/uboot-redund.env");
    EXPECT_TRUE(contains(env, std::string("vcom_value=200\0", 15)));
    EXPECT_TRUE(contains(root.read("obdata/model/config/board.ini"), "TypeIdx = 6"));
}

TEST(AValueTheChipCannotHold, IsRefusedBeforeAnythingRuns)
{
    const ToolRun run = runTool({"--sim", "g1625", "--trace", "read", "update", "128"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "vcomctl: update 128: out of range for g1625 (0 to 127: 7-bit setting; 128 and up "
              "would alias 0-127)\n");
}

TEST(WithoutAPlatformConfiguration, NothingIsSimulatedAndTheRunFails)
{
    TempDir root;
    root.write("obdata/model/config/board.ini", boardFile(9));
    const ToolRun run = runTool({"-r", root.path(), "read"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vcomctl: no SoC backend configured (" + root.path() +
                           "/etc/zeplatform.conf)\n");
}

TEST(ABoardFile, ThatIsMissingOrNamesAChipTheDriverLacksFailsTheRun)
{
    TempDir root;
    root.write("etc/zeplatform.conf", "[soc]\nbackend = linux\n[i2c]\nbuses = 1\n");
    ToolRun run = runTool({"-r", root.path(), "read"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vcomctl: no board file: " + root.path() +
                           "/obdata/model/config/board.ini (No such file or directory)\n");
    root.write("obdata/model/config/board.ini", boardFile(2));
    run = runTool({"-r", root.path(), "read"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_TRUE(contains(run.err, "board.ini: TypeIdx 2 ")) << run.err;
}

TEST(TheChipsCommand, NeedsNoBoard)
{
    const ToolRun run = runTool({"--root", "/nonexistent-vcomctl-root", "chips"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_TRUE(contains(run.out, "      6  rt6966  0-653    0-255 "));
    EXPECT_TRUE(contains(run.out, "      9  g1625   0-127    0-127 "));
}

TEST(Verbose, ShowsTheDriversInfoMessagesOnStderr)
{
    const ToolRun run = runTool({"-v", "--sim", "rt6966", "read"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_TRUE(contains(run.err, "[DR_VCOM]VCOM RT6966 read success .\n")) << run.err;
}

// The runner on a driver brought up by hand, so that the board can fail.
class TheRunner : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.write("obdata/model/config/board.ini", boardFile(6));
        setenv("ZE_PLATFORM_ROOT", root.path().c_str(), 1);
        board = ze::sim::makeDefaultBoard();
        ze::sim::PanelConfig panel;
        panel.chip = ze::sim::ChipType::RT6966;
        ze::sim::installPanel(*board, panel);
        ze::platform::setSocBackend(board);
        std::string error;
        session = DriverSession::open(1, &error);
        ASSERT_TRUE(session) << error;
        log.emplace(false, nullptr);
        runner.emplace(session->vcom(), session->driver(), *log, nullptr);
    }
    void TearDown() override
    {
        runner.reset();
        log.reset();
        session.reset();
        ze::platform::setSocBackend(nullptr);
        unsetenv("ZE_PLATFORM_ROOT");
    }
    CommandResult run(Op op, std::uint16_t value = 0)
    {
        if (!initialized) {
            EXPECT_TRUE(runner->init().ok);
            initialized = true;
        }
        return runner->run(Command{op, value, op == Op::Pattern && value != 0,
                                   std::to_string(value)});
    }

    TempDir root;
    std::shared_ptr<ze::sim::Board> board;
    std::unique_ptr<DriverSession> session;
    std::optional<DriverLog> log;
    std::optional<Runner> runner;
    bool initialized = false;
};

TEST_F(TheRunner, FailsAReadTheChipRoutineReportsAsFailedInsteadOfReadingZero)
{
    board->failMatching(0xE8, 0x26, -6);
    const CommandResult result = run(Op::Read);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "read failed (I2C status -6: No such device or address)");
}

TEST_F(TheRunner, JudgesEachCallByItsOwnMessagesAndReadsZeroFromAChipThatHoldsZero)
{
    board->failMatching(0xE8, 0x25, -121);
    const CommandResult update = run(Op::Update, 0);
    EXPECT_FALSE(update.ok);
    EXPECT_EQ(update.error, "update 0 failed (status -1; I2C status -121: Remote I/O error)");
    board->clearFaults();
    ASSERT_TRUE(run(Op::Update, 0).ok);
    const CommandResult read = run(Op::Read);
    EXPECT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.value, 0u);
}

TEST_F(TheRunner, FailsAPatternSwitchTheDisplayRefused)
{
    board->failNth(ze::sim::Call::DisplaySetFreerunVfreq, 1, -5);
    const CommandResult on = run(Op::Pattern, 1);
    EXPECT_FALSE(on.ok);
    EXPECT_EQ(on.error, "pattern on failed: [DR_VCOM] Set Freerun Vfreq 60Hz Fail");
    EXPECT_TRUE(run(Op::Pattern, 0).ok);
}

TEST_F(TheRunner, NamesTheBusWhenInitializationCannotOpenIt)
{
    board->failNth(ze::sim::Call::I2COpen, 1, -19);
    const CommandResult init = runner->init();
    EXPECT_FALSE(init.ok);
    EXPECT_EQ(init.status, -19);
    EXPECT_EQ(init.error,
              "driver initialization failed: cannot open I2C bus 1 (status -19: No such device)");
}

}  // namespace
}  // namespace test
}  // namespace vcomctl
