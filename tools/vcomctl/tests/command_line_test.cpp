#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"

namespace vcomctl {
namespace {

std::vector<std::string> names(const Options& options)
{
    std::vector<std::string> out;
    for (const Command& command : options.commands) out.push_back(describe(command));
    return out;
}

ParseOutcome refused(const std::vector<std::string>& args)
{
    ParseOutcome outcome = parseCommandLine(args);
    EXPECT_FALSE(outcome.run);
    EXPECT_EQ(outcome.exitCode, kExitUsage);
    EXPECT_EQ(outcome.error.find('\n'), std::string::npos) << "one line: " << outcome.error;
    EXPECT_EQ(outcome.out, "");
    return outcome;
}

TEST(TheCommandList, KeepsRepeatedCommandsInTheOrderGiven)
{
    const ParseOutcome outcome =
        parseCommandLine({"--sim", "auo", "read", "update", "0x80", "read", "save", "0x80"});
    ASSERT_TRUE(outcome.run) << outcome.error;
    EXPECT_EQ(names(outcome.options),
              (std::vector<std::string>{"read", "update 0x80", "read", "save 0x80"}));
    EXPECT_EQ(outcome.options.commands[1].value, 0x80);
    EXPECT_EQ(outcome.options.commands[3].op, Op::Save);
    EXPECT_EQ(outcome.options.simChip, "auo");
}

TEST(TheCommandList, CarriesEachCommandsOwnValueAndState)
{
    const ParseOutcome outcome = parseCommandLine(
        {"update", "1", "update", "0x2", "pattern", "on", "pattern", "off", "config", "chips"});
    ASSERT_TRUE(outcome.run) << outcome.error;
    const std::vector<Command>& c = outcome.options.commands;
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(c[0].value, 1);
    EXPECT_EQ(c[1].value, 2);
    EXPECT_TRUE(c[2].on);
    EXPECT_FALSE(c[3].on);
    EXPECT_EQ(c[4].op, Op::Config);
    EXPECT_EQ(c[5].op, Op::Chips);
}

TEST(TheCommandList, AcceptsOptionsBeforeBetweenAndAfterCommands)
{
    const ParseOutcome outcome = parseCommandLine(
        {"-v", "read", "--json", "update", "5", "--trace", "-r", "/x", "--sim", "BOE"});
    ASSERT_TRUE(outcome.run) << outcome.error;
    const Options& o = outcome.options;
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.root, "/x");
    EXPECT_EQ(o.simChip, "boe");
    EXPECT_EQ(names(o), (std::vector<std::string>{"read", "update 5"}));
}

TEST(TheCommandList, IsRefusedWithAOneLineReason)
{
    EXPECT_NE(refused({}).error.find("no command given"), std::string::npos);
    EXPECT_NE(refused({"--sim", "boe", "frobnicate"}).error.find("unknown command 'frobnicate'"),
              std::string::npos);
    EXPECT_NE(refused({"read", "frobnicate"}).error.find("unexpected 'frobnicate'"),
              std::string::npos);
    EXPECT_NE(refused({"update"}).error.find("VALUE is required"), std::string::npos);
    EXPECT_NE(refused({"read", "update"}).error.find("VALUE is required"), std::string::npos);
    EXPECT_NE(refused({"update", "1", "2"}).error.find("unexpected '2'"), std::string::npos);
    EXPECT_NE(refused({"update", "0x1ZZ"}).error.find("'0x1ZZ' is not a number"),
              std::string::npos);
    EXPECT_NE(refused({"save", "70000"}).error.find("out of range"), std::string::npos);
    EXPECT_NE(refused({"update", "-1"}).error, "");
    EXPECT_NE(refused({"pattern", "maybe"}).error.find("maybe"), std::string::npos);
    EXPECT_NE(refused({"read", "--root", ""}).error.find("must not be empty"), std::string::npos);
    EXPECT_NE(refused({"read", "--bogus"}).error, "");
}

TEST(TheCommandList, RefusesAnUnknownChipListingTheValidOnes)
{
    const std::string error = refused({"--sim", "xyz", "read"}).error;
    EXPECT_NE(error.find("unknown chip 'xyz'"), std::string::npos);
    EXPECT_NE(error.find("auo, in518, boe, rt6966, in525, kd733, g1625, kd532p"),
              std::string::npos);
}

TEST(Help, IsPrintedWithExitStatusZeroAndTellsGrammarRangesAndExitStatus)
{
    const ParseOutcome outcome = parseCommandLine({"--help"});
    EXPECT_FALSE(outcome.run);
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_EQ(outcome.error, "");
    for (const char* text : {"COMMAND [COMMAND ...]", "--sim", "--json", "--trace", "--root",
                             "0-653", "0-127", "leading zero", "Exit status"}) {
        EXPECT_NE(outcome.out.find(text), std::string::npos) << text;
    }
}

TEST(Help, OfACommandDescribesItsValue)
{
    const ParseOutcome outcome = parseCommandLine({"update", "--help"});
    EXPECT_FALSE(outcome.run);
    EXPECT_EQ(outcome.exitCode, kExitOk);
    EXPECT_NE(outcome.out.find("VALUE"), std::string::npos);
}

}  // namespace
}  // namespace vcomctl
