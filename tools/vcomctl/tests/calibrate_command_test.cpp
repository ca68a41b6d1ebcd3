// vcomctl calibrate's files: what cannot be written is found before the
// panel is touched, and only a panel that succeeded enters the statistics.

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ze/test/temp_root.h>
#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/line_stats.h>

#include "app.h"
#include "command_line.h"
#include "stop_control.h"

namespace vcomctl {
namespace test {
namespace {

nlohmann::json calibrate(const std::vector<std::string>& options, int* status = nullptr,
                         StopControl* stop = nullptr)
{
    std::ostringstream out, err;
    std::istringstream in;
    ze::test::resetClock();
    std::vector<std::string> args = {"--json", "--sim", "in525", "calibrate", "--meter-cmd"};
    args.insert(args.end(), options.begin(), options.end());
    const int exit = runVcomctl(args, Io{out, err, in, false, false, stop});
    if (status != nullptr) *status = exit;
    return nlohmann::json::parse(out.str())["results"][0];
}

TEST(CalibrateFiles, oneThatCannotBeWrittenFailsTheRunBeforeAnyUpdate)
{
    ze::test::TempRoot root(false);
    namespace fs = std::filesystem;
    const std::string dir = root.dir();
    fs::create_symlink(dir + "/elsewhere", dir + "/linked.jsonl");
    fs::create_symlink(dir + "/elsewhere", dir + "/line.json.lock");
    const struct {
        std::vector<std::string> options;
        const char* error;
    } cases[] = {
        {{"echo 1", "--log", dir + "/linked.jsonl"}, "cannot open the log"},
        {{"echo 1", "--state", dir + "/line.json"}, "cannot open the lock"},
        {{"echo 1", "--state", dir + "/none/line.json"}, "is its directory writable?"},
        {{"echo 1", "--plot", dir + "/linked.jsonl"}, "refusing to write through the symlink"},
        {{"echo 1", "--plot", dir + "/none/panel.svg"}, "cannot create a file beside"},
    };
    for (const auto& c : cases) {
        const nlohmann::json result = calibrate(c.options);
        EXPECT_NE(std::string::npos, result["error"].get<std::string>().find(c.error)) << result;
        EXPECT_TRUE(result["data"].is_null()) << result;
    }
    EXPECT_FALSE(fs::exists(dir + "/elsewhere"));

    const std::string state = dir + "/good.json";
    EXPECT_TRUE(calibrate({"false", "--state", state})["data"]["restored"]);
    std::string error;
    const auto line = ze::vcomcal::LineStats::load(state, &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(0u, line->count());
}

TEST(CalibrateStop, aSignalMidSearchSetsThePanelBackSavesNothingAndEndsWithItsStatus)
{
    catchStopSignals();
    int status = 0;
    // The meter asks vcomctl to stop with its first reading, as Ctrl-C would.
    const nlohmann::json result =
        calibrate({"kill -INT $PPID; echo 1"}, &status, &StopControl::process());
    EXPECT_EQ(kExitSignalBase + SIGINT, status);
    const nlohmann::json& data = result["data"];
    EXPECT_EQ("interrupted", data["reason"]) << data;
    EXPECT_EQ(false, data["saved"]);
    EXPECT_EQ(true, data["restored"]);
    EXPECT_TRUE(result["value"].is_null());
}

}  // namespace
}  // namespace test
}  // namespace vcomctl
