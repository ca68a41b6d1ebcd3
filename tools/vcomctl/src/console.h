#pragma once
// stderr of the tool: diagnostic lines, and on a terminal a progress line for
// an operation that takes a while (an IN525 save blocks for seconds). Lines
// and progress may come from different threads; they never interleave.

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace vcomctl {

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
