// vcomctl on the simulated board, in-process: the real driver and platform,
// the virtual clock instead of sleeps.

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ze/sim/board.h>
#include <ze/sim/panel.h>
#include <ze/test/temp_root.h>
#include <ze/test/virtual_clock.h>

#include "app.h"
#include "command_line.h"

namespace vcomctl {
namespace test {
namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& args, const std::string& input = "",
                StopControl* stop = nullptr)
{
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    ze::test::resetClock();
    const int status = runVcomctl(args, Io{out, err, in, false, false, stop});
    return ToolRun{status, out.str(), err.str()};
}

// Scratch space: the tool is told its root.
struct TempDir : ze::test::TempRoot {
    TempDir() : TempRoot(false) {}
    const std::string& path() const { return dir(); }
};

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

const char* const kBoard = "/etc/zeplatform.conf";
const char* const kBoardIni = "/obdata/model/config/board.ini";
const char* const kLinuxConf = "[soc]\nbackend = linux\n[i2c]\nbuses = 1\n";

std::string boardFile(int typeIdx)
{
    return "[VCOM]\nTypeIdx = " + std::to_string(typeIdx) +
           "\nI2cBus = 1\nVcomAddr = 0xE8\nGpioAddr = 168\nGpioStatus = 1\nLdmFlag = 0\n";
}

TEST(ACommandList, IsAppliedInOrderToOneBringUpAndShowsItsTrafficOnRequest)
{
    ToolRun run = runTool({"--sim", "rt6966", "read", "update", "0x80", "read"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out, "read: 142 (0x8E)\nupdate 0x80: ok\nread: 128 (0x80)\n");
    EXPECT_EQ(run.err, "");

    // Times are CLOCK_MONOTONIC's, which the virtual clock does not drive.
    run = runTool({"--sim", "rt6966", "--trace", "update", "0x80"});
    EXPECT_EQ(std::regex_replace(run.out, std::regex(" +[0-9]+\\.[0-9]{6} "), "T"),
              "init: ok\n"
              "T O  open bus 1 mode 1                             ok\n"
              "update 0x80: ok\n"
              "T W  bus 1  0x74 [0xE8]  reg 0x25  data 1F         ok\n"
              "T W  bus 1  0x74 [0xE8]  reg 0x26  data 20         ok\n");
    run = runTool({"--sim", "in518", "--trace=i2ctransfer", "read"});
    EXPECT_TRUE(contains(run.out, "\ni2ctransfer -y 1 w1@0x74 0x34 r1  # 0x80\n")) << run.out;
    EXPECT_EQ(runTool({"-q", "--sim", "auo", "update", "7", "read"}).out, "7\n");
}

TEST(TheJsonOutput, HasTheSameKeysForEveryCommandAndEveryRefusal)
{
    const std::vector<std::string> keys = {"schema",  "backend", "root", "chip", "init",
                                           "results", "ok",      "exit", "error"};
    const std::vector<std::pair<std::vector<std::string>, int>> runs = {
        {{"--json", "--sim", "rt6966", "update", "653", "read", "config", "chips"}, kExitOk},
        {{"--json", "chips"}, kExitOk},
        {{"--json", "update", "abc"}, kExitUsage},
        {{"--json", "--sim", "g1625", "update", "128"}, kExitUsage},
        {{"--json", "--sim", "auo", "--sim-fault", "absent", "read"}, kExitFailed},
    };
    for (const auto& [args, exit] : runs) {
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.status, exit) << run.out;
        ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        const nlohmann::ordered_json object = nlohmann::ordered_json::parse(run.out);
        std::vector<std::string> seen;
        for (const auto& item : object.items()) seen.push_back(item.key());
        EXPECT_EQ(seen, keys) << run.out;
        EXPECT_EQ(object["schema"], 1);
        EXPECT_EQ(object["exit"], exit);
        EXPECT_EQ(object["ok"], exit == kExitOk);
        for (const auto& result : object["results"]) EXPECT_EQ(result.size(), 8u) << result;
    }
}

TEST(TheSimulatedPanel, NeverWritesIntoAUsersRootAndLeavesNothingBehind)
{
    TempDir root;
    root.write(kBoardIni, boardFile(6));
    root.write("/etc/fw_env.config", "/board/env 0x0 0x4000\n");
    TempDir tmp;
    setenv("TMPDIR", tmp.path().c_str(), 1);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--sim", "rt6966", "-r", root.path(), "read"},
             {"--sim", "rt6966", "update", "300"},
             {"--sim", "g1625", "update", "128"},
         }) {
        runTool(args);
        EXPECT_EQ(root.read(kBoardIni), boardFile(6));
        EXPECT_EQ(root.read("/etc/fw_env.config"), "/board/env 0x0 0x4000\n");
        EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << args.back();
    }
    unsetenv("TMPDIR");
}

TEST(ABoardFile, ThatCannotBeTrustedIsRefusedButConfigShowsWhatTheDriverParsed)
{
    const std::vector<std::pair<std::string, std::string>> boards = {
        {"", "no [VCOM] section"},
        {"garbage\x01\x02\n", "no [VCOM] section"},
        {"[Other]\nTypeIdx = 4\n", "no [VCOM] section"},
        {"[VCOM]\nI2cBus = 1\n", "[VCOM] has no TypeIdx"},
        {"[VCOM]\n#" + std::string(199, 'x') + "\nTypeIdx = 4\n",
         "2: line over 200 bytes with its newline, more than the config reader takes"},
    };
    for (const auto& [text, problem] : boards) {
        TempDir root;
        root.write(kBoard, kLinuxConf);
        root.write(kBoardIni, text);
        const ToolRun run = runTool({"-r", root.path(), "save", "5"});
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_EQ(run.err.find("vcomctl: " + root.path() + kBoardIni + ":"), 0u) << run.err;
        EXPECT_TRUE(contains(run.err, problem)) << run.err;
        const ToolRun config = runTool({"-r", root.path(), "--dry-run", "config"});
        EXPECT_TRUE(contains(config.out, "TypeIdx        1 (auo)")) << config.out << config.err;
    }
    TempDir root;
    root.write(kBoard, kLinuxConf);
    std::filesystem::create_directories(root.path() + kBoardIni);
    EXPECT_TRUE(contains(runTool({"-r", root.path(), "read"}).err, "not a regular file"));
}

TEST(ASave, IsReadBackAndFailsWhenTheChipDoesNotHoldTheValue)
{
    // The IN525 reports success although its block write failed.
    ToolRun run = runTool({"--sim", "in525", "--sim-fault", "write:4", "save", "0x50"});
    EXPECT_EQ(run.status, kExitFailed) << run.out;
    EXPECT_TRUE(contains(run.err, "vcomctl: save 0x50: written but read back 128\n")) << run.err;
    run = runTool({"--sim", "in525", "--sim-fault", "write:4", "--no-verify", "save", "0x50"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    run = runTool({"--json", "--sim", "rt6966", "save", "200"});
    EXPECT_TRUE(contains(run.out, R"("value":200,"status":0,"read_back":200)")) << run.out;
}

// What the kept panel's chip drives after a power cycle: its NVM.
unsigned int storedAfterPowerCycle(const std::string& dir, const std::string& chip)
{
    const std::shared_ptr<ze::sim::Board> board = ze::sim::makeDefaultBoard();
    ze::platform::VcomBoardConfig config;
    config.typeIdx = ze::ic::catalogue::byName(chip.c_str())->typeIdx;
    ze::sim::Panel panel = ze::sim::installPanel(*board, config);
    EXPECT_EQ(ze::sim::loadPanelState(panel, dir + "/panel.state"), 0) << dir;
    board->powerCycle();
    return ze::sim::heldValue(panel).value_or(~0u);
}

TEST(ASave, StoresTheValueNamedAlsoWhereTheChipStoresItsCurrentSetting)
{
    for (const char* chip : {"auo", "kd532p", "boe", "kd733"}) {
        TempDir parent;
        const std::string dir = parent.path() + "/panel";
        ToolRun run =
            runTool({"--json", "--sim-state", dir, "--sim", chip, "update", "16", "save", "3"});
        EXPECT_EQ(run.status, kExitOk) << chip << run.out;
        EXPECT_TRUE(contains(run.out, R"("value":3,"status":0,"read_back":3)")) << run.out;
        EXPECT_EQ(storedAfterPowerCycle(dir, chip), 3u) << chip;
        run = runTool({"-v", "--sim-state", dir, "session"}, "update 999\nsave 5\n");
        EXPECT_TRUE(contains(run.err, "updating to 5 first")) << run.err;
        EXPECT_EQ(storedAfterPowerCycle(dir, chip), 5u) << chip;
    }
}

TEST(ASimStateDirectory, KeepsThePanelAcrossRunsAndIsNeverTakenFromSomeoneElse)
{
    TempDir parent;
    const std::string dir = parent.path() + "/panel";
    EXPECT_EQ(runTool({"--sim-state", dir, "--sim", "in518", "save", "0x70"}).status, kExitOk);
    ToolRun run = runTool({"--sim-state", dir, "read"});
    EXPECT_EQ(run.out, "read: 112 (0x70)\n") << run.err;
    run = runTool({"--sim-state", dir, "--sim", "auo", "read"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_TRUE(contains(run.err, "holds a simulated in518 panel, not auo")) << run.err;

    parent.write("/mine/board.ini", "precious");
    run = runTool({"--sim-state", parent.path() + "/mine", "--sim", "auo", "read"});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_TRUE(contains(run.err, "not a state directory vcomctl created")) << run.err;
    EXPECT_EQ(parent.read("/mine/board.ini"), "precious");
}

TEST(AFailedCalibration, NamesNoValue)
{
    const ToolRun run = runTool({"--json", "--sim", "auo", "calibrate", "--meter-cmd", "false"});
    EXPECT_TRUE(contains(run.out, R"("command":"calibrate","ok":false,"value":null)")) << run.out;
}

TEST(ASimStateDirectory, WritesThroughNoLinkIntoNoDirectoryAnotherUserCouldChange)
{
    namespace fs = std::filesystem;
    TempDir parent;
    const std::string dir = parent.path() + "/panel";
    const std::string outside = parent.path() + "/outside";
    ASSERT_EQ(runTool({"--sim-state", dir, "--sim", "rt6966", "save", "7"}).status, kExitOk);
    parent.write("/outside", "precious");
    fs::create_symlink(outside, dir + "/panel.state.new");
    EXPECT_EQ(runTool({"--sim-state", dir, "update", "9"}).status, kExitOk);
    struct stat before, after;
    stat((dir + "/panel.state").c_str(), &before);
    EXPECT_EQ(runTool({"-q", "--sim-state", dir, "read"}).out, "9\n");
    stat((dir + "/panel.state").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << "a read rewrote the state";

    fs::rename(dir + "/var/uboot.env", dir + "/var/env");
    fs::create_symlink(outside, dir + "/var/uboot.env");
    fs::create_symlink(dir, parent.path() + "/link");
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {dir, "/var/uboot.env: a symbolic link; refused"},
        {parent.path() + "/link", "link: a symbolic link or no directory"},
    };
    for (const auto& [state, says] : refusals) {
        const ToolRun run = runTool({"--sim-state", state, "save", "5"});
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_TRUE(contains(run.err, says)) << run.err;
    }
    fs::remove(dir + "/var/uboot.env");
    fs::rename(dir + "/var/env", dir + "/var/uboot.env");
    fs::permissions(dir, fs::perms::others_write, fs::perm_options::add);
    EXPECT_TRUE(contains(runTool({"--sim-state", dir, "read"}).err, "writable by group or others"));
    fs::permissions(dir, fs::perms::others_write, fs::perm_options::remove);
    EXPECT_EQ(parent.read("/outside"), "precious");
    fs::rename(dir + "/var/uboot.env", dir + "/var/env");
    fs::create_directory(dir + "/var/uboot.env");
    EXPECT_TRUE(contains(runTool({"--sim-state", dir, "save", "5"}).err,
                         "save 5 failed: cannot write the environment store " + dir +
                             "/var/uboot.env: Is a directory"));
    fs::remove(dir + "/var/uboot.env");
    fs::rename(dir + "/var/env", dir + "/var/uboot.env");

    const std::string state = parent.read("/panel/panel.state");
    for (const auto& [text, says] : std::vector<std::pair<std::string, std::string>>{
             {state.substr(0, state.size() / 2), "panel.state: cut short: no \"end = N\" line"},
             {"chip = rt6966\nregs = 0x\nend = 2\n", "line 2: regs: expected hex bytes, got '0x'"},
         }) {
        parent.write("/panel/panel.state", text);
        EXPECT_TRUE(contains(runTool({"--sim-state", dir, "read"}).err, says)) << text;
    }
}

TEST(ASimStateDirectory, TakesConcurrentRunsOneCommandAtATime)
{
    constexpr int kRuns = 8;
    TempDir parent;
    const std::string dir = parent.path() + "/panel";
    ASSERT_EQ(runTool({"--sim-state", dir, "--sim", "rt6966", "read"}).status, kExitOk);
    std::string commands;
    for (int i = 0; i < 20; ++i) commands += "update " + std::to_string(i) + "\nread\n";
    std::vector<pid_t> children;
    for (int i = 0; i < kRuns; ++i) {
        const pid_t child = fork();
        if (child == 0) _exit(runTool({"--sim-state", dir, "session"}, commands).status);
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitOk) << status;
    }
}

TEST(ASession, AnswersEachLineOverOneBringUpAndGoesOnAfterARefusal)
{
    const ToolRun run = runTool({"--sim", "rt6966", "session"},
                                "update 120\n\n# comment\nread\nbogus\n{\"command\":\"read\"}\n");
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(run.out, "update 120: ok\nread: 120 (0x78)\nread: 120 (0x78)\n");
    EXPECT_TRUE(contains(run.err, "vcomctl: line 5: unknown command 'bogus'")) << run.err;

    const ToolRun json = runTool({"--json", "--sim", "rt6966", "session"}, "update 9\nread\n");
    EXPECT_EQ(json.status, kExitOk);
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 3) << json.out;
}

TEST(ASession, RefusesHostileLinesInOneShortLineEachAndGoesOn)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::vector<std::string> lines = {
        R"({"command":"update","value":)" + deep + "}",
        "{\"command\":\"update\",\"value\":[\"\xff\"]}",
        "update " + std::string(5000, '7'),
        "read " + std::string(kMaxSessionLine, 'x'),
    };
    std::string input;
    for (const std::string& line : lines) input += line + "\n";
    const ToolRun run = runTool({"--json", "--sim", "auo", "session"}, input + "read\n");
    EXPECT_EQ(run.status, kExitUsage);
    std::istringstream out(run.out);
    std::vector<nlohmann::json> answers;
    for (std::string line; std::getline(out, line);) answers.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(answers.size(), lines.size() + 2) << run.out.substr(0, 1000);
    for (std::size_t i = 1; i <= lines.size(); ++i) {
        EXPECT_EQ(answers[i]["exit"], kExitUsage);
        EXPECT_LT(answers[i]["error"].get<std::string>().size(), 200u) << answers[i];
    }
    EXPECT_EQ(answers.back()["ok"], true);
}

TEST(AStopSignal, EndsTheRunBetweenCommandsNeverInsideOne)
{
    StopControl stop;
    {
        auto held = stop.hold();  // as during a command: the stop waits for its end
        std::thread([&stop] { stop.deliver(SIGTERM); }).join();
    }
    const ToolRun run = runTool({"--sim", "auo", "read", "save", "5"}, "", &stop);
    EXPECT_EQ(run.status, kExitSignalBase + SIGTERM);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vcomctl: stopped by SIGTERM\n");
    sigset_t caught;
    catchStopSignals();
    pthread_sigmask(SIG_BLOCK, nullptr, &caught);
    EXPECT_EQ(sigismember(&caught, SIGHUP), 1);
}

TEST(AFailure, IsOneLineNamingTheCallTheDeviceAndTheMissingConfiguration)
{
    TempDir root;
    root.write(kBoard, kLinuxConf);
    root.write(kBoardIni, boardFile(6));
    ToolRun run = runTool({"-r", root.path(), "--bus", "3", "read"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.err,
              "vcomctl: driver initialization: init failed (status -19): opening I2C bus "
              "3: No such device (-19); bus 3 is not in [i2c] buses of " +
                  root.path() + "/etc/zeplatform.conf\n");
    EXPECT_EQ(root.read(kBoardIni), boardFile(6));

    run = runTool({"--sim", "auo", "--sim-fault", "gpio:1", "read"});
    EXPECT_EQ(run.err, "vcomctl: read failed: GPIO 168 set to 1: Input/output error (-5)\n");
    run = runTool({"--sim", "boe", "--sim-fault", "absent", "update", "3"});
    EXPECT_EQ(run.err,
              "vcomctl: update 3 failed (status -6): I2C write to 0x74 [0xE8] reg 0x25 on "
              "bus 1: No such device or address (-6)\n");
}

TEST(WithoutAPlatformConfiguration, NothingIsSimulatedAndTheRunFails)
{
    TempDir root;
    root.write(kBoardIni, boardFile(9));
    const ToolRun run = runTool({"-r", root.path(), "read"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "vcomctl: no SoC backend configured (" + root.path() + "/etc/zeplatform.conf)\n");
}

TEST(ADryRun, ShowsTheTransfersOfTheBoardsChipWithoutTouchingTheBus)
{
    TempDir root;
    root.write(kBoard, kLinuxConf);
    root.write(kBoardIni, boardFile(4));
    const ToolRun run =
        runTool({"-r", root.path(), "--dry-run", "--trace=i2ctransfer", "update", "5"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_TRUE(contains(
        run.out, "i2ctransfer -y 1 w2@0x74 0x25 0x01\ni2ctransfer -y 1 w2@0x74 0x26 0x96\n"))
        << run.out;
}

TEST(Calibrate, FindsTheOptimumAndAFailingMeterLeavesThePanelAtItsStartValue)
{
    TempDir dir;
    const std::string state = dir.path() + "/panel";
    const std::string log = dir.path() + "/line.jsonl";
    struct Case {
        std::vector<std::string> args;
        int exit;
    };
    const std::vector<Case> cases = {
        {{"--sim", "in525", "--meter", "sim", "--sim-optimum", "90.2", "--log", log}, kExitOk},
        {{"--meter-stdio", "sed -u 7q", "--log", log}, kExitFailed},  // dies after a few updates
        {{"--meter-cmd", "false"}, kExitFailed},
    };
    std::string held;
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--json", "--sim-state", state, "calibrate"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.status, c.exit) << run.err;
        const nlohmann::json report = nlohmann::json::parse(run.out)["results"][0]["data"];
        const ToolRun read = runTool({"-q", "--sim-state", state, "read"});
        if (c.exit == kExitOk) {
            EXPECT_NEAR(report["best"].get<int>(), 90, 1) << run.out;
            EXPECT_TRUE(report["saved"] && report["verified"]) << run.out;
            held = read.out;
        } else {
            EXPECT_TRUE(report["restored"]) << run.out;
            EXPECT_GT(report["updates"].get<int>(), 0) << run.out;
            EXPECT_EQ(read.out, held);
        }
    }
    const std::string lines = dir.read("/line.jsonl");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}

}  // namespace
}  // namespace test
}  // namespace vcomctl
