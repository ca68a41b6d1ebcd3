#pragma once
// SIGINT, SIGTERM and SIGHUP, taken by a thread of their own so that a chip sequence
// is never cut: an IN525 save stopped between its unlock and its MTP program
// leaves the chip unlocked with half a block. The run holds the chip while
// it drives it; a stop asked for meanwhile is seen at the end of the command.
// While the run waits (a session reading stdin) the stop acts at once.

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>

namespace vcomctl {

class StopControl {
public:
    // The run holds this while it drives the chip.
    std::unique_lock<std::mutex> hold() { return std::unique_lock<std::mutex>(busy_); }
    // 0, or the signal that asked the run to stop.
    int requested() const { return requested_.load(); }
    // What to do when a stop arrives while the run waits: clean up and end
    // the process. Set and cleared by the run.
    void setIdleStop(std::function<void(int signal)> stop);
    // From the signal thread (tests call it directly).
    void deliver(int signal);

    static StopControl& process();

private:
    std::mutex busy_;
    std::mutex idleMutex_;
    std::function<void(int)> idleStop_;
    // Set by the signal thread, read by the run while it drives the chip.
    std::atomic<int> requested_{0};
};

// Blocks SIGINT, SIGTERM and SIGHUP in every thread started from now on and delivers
// them to StopControl::process() from a thread of their own. Call first in
// main().
void catchStopSignals();

}  // namespace vcomctl
