#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <qor/debug.h>
#include <ze/platform/debug_sink.h>
#include <ze/test/log_capture.h>

namespace {

using ze::platform::resetDebugLevel;
using ze::platform::setDebugLevel;

bool enabled(std::uint32_t categoryLevel)
{
    const DebugLevelDescriptor descriptor = {categoryLevel, 0, 0};
    return qorDebugCheckLevelGetFrameAndChunk(&descriptor) != 0;
}

// What `action` writes to file descriptor 2.
std::string stderrOf(const std::function<void()>& action)
{
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(file), 2);
    action();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return text;
}

class DebugOutput : public ::testing::Test {
protected:
    void TearDown() override { useEnvironment(nullptr); }
    static void useEnvironment(const char* text)
    {
        text != nullptr ? setenv("ZE_DEBUG_LEVEL", text, 1) : unsetenv("ZE_DEBUG_LEVEL");
        resetDebugLevel();
    }
};

TEST(DebugLevelText, KnownWordsAndDecimalNumbersParseAndAnythingElseIsRejected)
{
    const std::pair<const char*, std::uint32_t> good[] = {{"none", 0},
                                                          {"error", 1000},
                                                          {"info", 4000},
                                                          {"all", UINT32_MAX},
                                                          {"Info", 4000},
                                                          {"2500", 2500},
                                                          {"4294967295", UINT32_MAX}};
    for (const auto& [text, level] : good) {
        std::uint32_t parsed = 7;
        EXPECT_TRUE(ze::platform::parseDebugLevel(text, &parsed) && parsed == level) << text;
    }
    for (const char* text : {"", "verbose", "-1", "12abc", " 1000", "4294967296"}) {
        std::uint32_t parsed = 7;
        EXPECT_FALSE(ze::platform::parseDebugLevel(text, &parsed)) << text;
        EXPECT_EQ(parsed, 7u) << text;
    }
}

TEST_F(DebugOutput, TheEnvironmentPicksTheEnabledLevelsAndUnknownTextKeepsTheErrorDefault)
{
    useEnvironment(nullptr);
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
    EXPECT_FALSE(enabled(QOR_DEBUG_LEVEL_ERROR + 1));
    useEnvironment("info");
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_INFO));
    EXPECT_FALSE(enabled(QOR_DEBUG_LEVEL_INFO + 1));
    useEnvironment("none");
    EXPECT_FALSE(enabled(0));
    setDebugLevel(QOR_DEBUG_LEVEL_INFO);
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_INFO));

    useEnvironment("loud");
    const std::string report = stderrOf([] {
        EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
        EXPECT_FALSE(enabled(QOR_DEBUG_LEVEL_INFO));
        EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
    });
    EXPECT_NE(report.find("'loud'"), std::string::npos) << report;
    EXPECT_EQ(report.find("loud"), report.rfind("loud")) << "reported more than once: " << report;
}

TEST_F(DebugOutput, AnyCategoryIsAcceptedAndOnlyTheLowSixteenBitsAreTheLevel)
{
    setDebugLevel(QOR_DEBUG_LEVEL_ERROR);
    EXPECT_TRUE(enabled(0xFFFF0000u | QOR_DEBUG_LEVEL_ERROR));
    EXPECT_FALSE(enabled(0x00010000u | (QOR_DEBUG_LEVEL_ERROR + 1)));
    setDebugLevel(0);
    EXPECT_FALSE(enabled(0x019A0000u));
}

TEST_F(DebugOutput, EachMessageGoesToTheSinkWithTheLevelLastEnabledOnItsThread)
{
    ze::test::LogCapture log(QOR_DEBUG_LEVEL_INFO);
    ASSERT_TRUE(enabled(QOR_DEBUG_LEVEL_INFO));
    qorDebugOutput0("a=%d\n", 1);
    ASSERT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
    ASSERT_FALSE(enabled(QOR_DEBUG_LEVEL_INFO + 1));
    std::vector<std::thread> threads;
    for (unsigned int t = 1; t <= 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                ASSERT_TRUE(enabled(2000 + t));
                qorDebugOutput0("thread %u\n", t);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    qorDebugOutput0("b");

    const std::vector<ze::test::LogMessage> got = log.messages();
    ASSERT_EQ(got.size(), 202u);
    EXPECT_EQ(got.front().level, QOR_DEBUG_LEVEL_INFO);
    EXPECT_EQ(got.front().text, "a=1\n");
    EXPECT_EQ(got.back().level, QOR_DEBUG_LEVEL_ERROR);
    for (std::size_t i = 1; i + 1 < got.size(); ++i) {
        EXPECT_EQ(got[i].text, "thread " + std::to_string(got[i].level - 2000) + "\n");
    }
}

TEST_F(DebugOutput, MessagesOfAnyLengthArriveWholeAndUnchanged)
{
    const std::string longText(5000, 'x');
    std::vector<ze::test::LogMessage> got;
    {
        ze::test::LogCapture log;
        qorDebugOutput0("%s|%d\n", longText.c_str(), 7);
        got = log.messages();
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, longText + "|7\n");
    EXPECT_EQ(stderrOf([] {
                  qorDebugOutput0("v=%u\n", 42u);
                  qorDebugOutput0("no newline");
              }),
              "v=42\nno newline");
}

}  // namespace
