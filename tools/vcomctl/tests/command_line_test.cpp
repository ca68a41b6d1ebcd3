#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"

namespace vcomctl {
namespace {

TEST(TheCommandList, KeepsEachCommandWithItsOwnValueInOrderAndTakesOptionsAnywhere)
{
    const ParseOutcome outcome =
        parseCommandLine({"-v", "read",  "--json", "update", "0x80",    "--trace", "pattern",
                          "on", "-r",    "/x",     "read",   "pattern", "off",     "save",
                          "5",  "--bus", "3",      "config", "--addr",  "0x74",    "chips"});
    ASSERT_TRUE(outcome.run) << outcome.error;
    const Options& o = outcome.options;
    std::vector<std::string> names;
    for (const Command& command : o.commands) names.push_back(describe(command));
    EXPECT_EQ(names, (std::vector<std::string>{"read", "update 0x80", "pattern on", "read",
                                               "pattern off", "save 5", "config", "chips"}));
    EXPECT_EQ(o.commands[1].value, 0x80);
    EXPECT_EQ(o.commands[5].value, 5);
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.trace, TraceMode::Timeline);
    EXPECT_EQ(o.root, "/x");
    EXPECT_EQ(o.overrides.bus, 3u);
    EXPECT_EQ(o.overrides.addr7, 0x74u);
}

TEST(TheCommandList, IsRefusedWithAOneLineReason)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no command given"},
        {{"--sim", "boe", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"read", "frobnicate"}, "unexpected 'frobnicate'"},
        {{"read", "--bogus"}, "unexpected '--bogus'"},
        {{"update"}, "VALUE is required"},
        {{"read", "update"}, "VALUE is required"},
        {{"update", "1", "2"}, "unexpected '2'"},
        {{"update", "0x1ZZ"}, "'0x1ZZ' is not a number"},
        {{"update", "-1"}, "'-1' is not a number"},
        {{"save", "70000"}, "out of range"},
        {{"pattern", "maybe"}, "maybe"},
        {{"read", "--root", ""}, "must not be empty"},
        {{"--sim", "auo", "-r", "/", "read"}, "--sim uses a private root"},
        {{"--sim", "auo", "--sim-fault", "write:0", "read"}, "needs a call count"},
        {{"--sim-fault", "absent", "read"}, "needs a simulated panel"},
        {{"--addr", "0xE8", "read"},
         "looks like the 8-bit form of the board file; --addr takes "
         "the 7-bit address: 0x74"},
        {{"--addr", "0x79", "read"}, "'0x79' is out of range (0 to 119)"},
        {{"--bus", "70000", "read"}, "'70000' is out of range (0 to 255)"},
        {{"session", "read"}, "session takes its commands from stdin"},
        {{"--sim", "auo", "calibrate", "--meter", "sim", "read"}, "calibrate runs alone"},
        {{"calibrate", "--meter", "sim"}, "--meter sim watches a simulated panel"},
        {{"--sim", "xyz", "read"},
         "unknown chip 'xyz' (valid: auo, in518, boe, rt6966, in525, kd733, g1625, kd532p)"},
    };
    for (const auto& [args, reason] : cases) {
        const ParseOutcome outcome = parseCommandLine(args);
        EXPECT_FALSE(outcome.run) << reason;
        EXPECT_EQ(outcome.exitCode, kExitUsage) << reason;
        EXPECT_NE(outcome.error.find(reason), std::string::npos) << outcome.error;
        EXPECT_EQ(outcome.error.find('\n'), std::string::npos) << outcome.error;
        EXPECT_EQ(outcome.out, "") << reason;
    }
}

}  // namespace
}  // namespace vcomctl
