#pragma once
// Captures the platform's debug output for the lifetime of the object, with
// every level enabled (or up to the given level).

#include <cstdint>
#include <string>
#include <vector>

#include <qor/debug.h>

namespace ze {
namespace test {

struct LogMessage {
    std::uint32_t level;
    std::string text;  // as output, prefix included
};

class LogCapture {
public:
    explicit LogCapture(std::uint32_t maxLevel = QOR_DEBUG_LEVEL_INFO);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogMessage> messages() const;
    // The message texts with the "file:line:function(): " prefix removed.
    std::vector<std::string> bodies() const;
    // Bodies of the messages at one level.
    std::vector<std::string> bodies(std::uint32_t level) const;
    void clear();
};

// "VCOMICdriver.cpp:120:init(): text" -> "text". Returns the input when it has no prefix.
std::string stripPrefix(const std::string& text);

}  // namespace test
}  // namespace ze
