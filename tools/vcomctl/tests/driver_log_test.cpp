#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <qor/debug.h>

#include "driver_log.h"

namespace vcomctl {
namespace {

// As the driver emits: check the level, then output.
void emit(std::uint32_t level, const char* text)
{
    const DebugLevelDescriptor descriptor = {(0x019Au << 16) | level, 0, 0};
    if (qorDebugCheckLevelGetFrameAndChunk(&descriptor)) qorDebugOutput0("x.cpp:1:f(): %s", text);
}

TEST(TheDriverLog, ShowsNothingUnlessVerboseThenEachBoardKeyOnceAndRestoresTheOutput)
{
    std::vector<std::string> shown;
    const auto show = [&shown](const std::string& line) { shown.push_back(line); };
    {
        DriverLog log(false, show);
        emit(QOR_DEBUG_LEVEL_ERROR, "before\n");
        log.startCall();
        emit(QOR_DEBUG_LEVEL_INFO, "quiet\n");
        emit(QOR_DEBUG_LEVEL_ERROR, "[DR_VCOM]VCOM AUO read fail .\n");
        const std::vector<DriverMessage> messages = log.callMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messageBody(messages[0].text), "[DR_VCOM]VCOM AUO read fail .");
    }
    {
        DriverLog log(true, show);
        emit(QOR_DEBUG_LEVEL_INFO, "[DR_VCOM]getVcomvalue OK: 5.\n\n");
        for (const char* value : {"'6'", "'6'", "'4'"}) {
            emit(QOR_DEBUG_LEVEL_INFO,
                 (std::string("[vcom][TypeIdx] is ") + value + " !\n").c_str());
        }
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"x.cpp:1:f(): [DR_VCOM]getVcomvalue OK: 5.",
                                               "x.cpp:1:f(): [vcom][TypeIdx] is '6' !",
                                               "x.cpp:1:f(): [vcom][TypeIdx] is '4' !"}));
    testing::internal::CaptureStderr();
    emit(QOR_DEBUG_LEVEL_ERROR, "after\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "x.cpp:1:f(): after\n");
}

}  // namespace
}  // namespace vcomctl
