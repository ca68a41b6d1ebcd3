#pragma once
// stderr of the tool: diagnostic lines, on a terminal a progress line for an
// operation that takes a while (an IN525 save blocks for seconds), and the
// driver's debug output: shown with -v, its errors kept per driver call, as
// a failure the transfers do not explain (an Innolux status, a refused
// refresh-rate switch) is told only there. Lines and progress may come from
// different threads; they never interleave.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vcomctl {

struct DriverMessage {
    std::uint32_t level;
    std::string text;  // as output, "file:line:function(): " prefix included
};

// The text without the "file:line:function(): " prefix and trailing newlines.
std::string messageBody(const std::string& text);

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

class Console {
public:
    // With `showProgress` false (stderr is no terminal) only lines are written.
    Console(std::ostream& err, bool showProgress);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void line(const std::string& text);
    // Shows "label ... 1.4 s" once the activity has run for a moment, until
    // endActivity().
    void beginActivity(const std::string& label);
    void endActivity();

private:
    void tick();
    void clearProgressLocked();

    std::ostream& err_;
    const bool showProgress_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
    std::string label_;
    bool active_ = false;
    bool shown_ = false;
};

}  // namespace vcomctl
