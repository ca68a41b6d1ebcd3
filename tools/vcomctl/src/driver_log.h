#pragma once
// The driver's debug output as the tool sees it: shown on stderr with -v, and
// its errors kept per driver call: a failure the transfers do not explain (an
// Innolux status, a refused refresh-rate switch) is told only there.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vcomctl {

struct DriverMessage {
    std::uint32_t level;
    std::string text;  // as output, "file:line:function(): " prefix included
};

// The text without the "file:line:function(): " prefix and trailing newlines.
std::string messageBody(const std::string& text);
bool isError(const DriverMessage& message);

// Installs itself as the platform's debug sink for its lifetime and keeps
// each call's error messages. Prints nothing without `verbose`: the tool
// reports a failure in one line of its own. With it, prints the levels
// $ZE_DEBUG_LEVEL names (info and above when unset).
class DriverLog {
public:
    using Printer = std::function<void(const std::string& line)>;

    DriverLog(bool verbose, Printer print);
    ~DriverLog();
    DriverLog(const DriverLog&) = delete;
    DriverLog& operator=(const DriverLog&) = delete;

    // Starts collecting afresh: what callMessages() returns is from here on.
    void startCall();
    // The error messages since startCall().
    std::vector<DriverMessage> callMessages() const;

private:
    struct Shared {
        std::mutex mutex;
        std::vector<DriverMessage> messages;
        Printer print;
        std::uint32_t shown = 0;
        std::map<std::string, std::string> boardKeys;
    };
    std::shared_ptr<Shared> shared_;
};

}  // namespace vcomctl
