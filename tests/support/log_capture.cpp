#include "ze/test/log_capture.h"

#include <mutex>

#include <ze/platform/debug_sink.h>

#include "ze/test/timeline.h"

namespace ze {
namespace test {
namespace {

std::mutex gMutex;
std::vector<LogMessage> gMessages;

}  // namespace

LogCapture::LogCapture(std::uint32_t maxLevel)
{
    clear();
    ze::platform::setDebugLevel(maxLevel);
    ze::platform::setDebugSink([](std::uint32_t level, const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(gMutex);
            gMessages.push_back({level, text});
        }
        noteMessage(level, text);
    });
}

LogCapture::~LogCapture()
{
    ze::platform::setDebugSink(nullptr);
    ze::platform::setDebugLevel(QOR_DEBUG_LEVEL_ERROR);
}

std::vector<LogMessage> LogCapture::messages() const
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gMessages;
}

std::vector<std::string> LogCapture::bodies() const
{
    std::vector<std::string> out;
    for (const LogMessage& m : messages()) out.push_back(stripPrefix(m.text));
    return out;
}

std::vector<std::string> LogCapture::bodies(std::uint32_t level) const
{
    std::vector<std::string> out;
    for (const LogMessage& m : messages()) {
        if (m.level == level) out.push_back(stripPrefix(m.text));
    }
    return out;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gMessages.clear();
}

std::string stripPrefix(const std::string& text)
{
    const std::string::size_type end = text.find("(): ");
    return end == std::string::npos ? text : text.substr(end + 4);
}

}  // namespace test
}  // namespace ze
