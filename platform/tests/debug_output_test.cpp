#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <qor/debug.h>
#include <ze/platform/debug_sink.h>
#include <ze/test/log_capture.h>

namespace {

using ze::platform::setDebugLevel;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

bool enabled(std::uint32_t categoryLevel)
{
    const DebugLevelDescriptor descriptor = {categoryLevel, 0, 0};
    return qorDebugCheckLevelGetFrameAndChunk(&descriptor) != 0;
}

class DebugOutput : public ::testing::Test {
protected:
    void TearDown() override { useEnvironment(nullptr); }
    static void useEnvironment(const char* text)
    {
        text != nullptr ? setenv("ZE_DEBUG_LEVEL", text, 1) : unsetenv("ZE_DEBUG_LEVEL");
        ze::platform::resetDebugLevel();
    }
};

TEST(DebugLevelText, KnownWordsAndDecimalNumbersParseAndAnythingElseIsRejected)
{
    const std::pair<const char*, std::uint32_t> good[] = {
        {"none", 0}, {"error", 1000}, {"info", 4000}, {"all", UINT32_MAX},
        {"Info", 4000}, {"2500", 2500}, {"4294967295", UINT32_MAX}};
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
    // Any category; only the low sixteen bits are the level.
    EXPECT_TRUE(enabled(0xFFFF0000u | QOR_DEBUG_LEVEL_INFO));
    EXPECT_FALSE(enabled(0x00010000u | (QOR_DEBUG_LEVEL_INFO + 1)));
    useEnvironment("none");
    EXPECT_FALSE(enabled(0x019A0000u));
    setDebugLevel(QOR_DEBUG_LEVEL_INFO);
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_INFO));

    useEnvironment("loud");
    CaptureStderr();
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
    EXPECT_FALSE(enabled(QOR_DEBUG_LEVEL_INFO));
    EXPECT_TRUE(enabled(QOR_DEBUG_LEVEL_ERROR));
    const std::string report = GetCapturedStderr();
    EXPECT_NE(report.find("'loud'"), std::string::npos) << report;
    EXPECT_EQ(report.find("loud"), report.rfind("loud")) << "reported more than once: " << report;
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

TEST_F(DebugOutput, WithoutASinkMessagesOfAnyLengthGoWholeAndUnchangedToStderr)
{
    const std::string longText(5000, 'x');
    CaptureStderr();
    qorDebugOutput0("%s|%d\n", longText.c_str(), 7);
    qorDebugOutput0("no newline");
    EXPECT_EQ(GetCapturedStderr(), longText + "|7\nno newline");
}

}  // namespace
