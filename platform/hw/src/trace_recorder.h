#pragma once
// The trace of SoC calls, in the simulated board's form, for vcomctl --trace.

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include <ze/sim/board.h>

namespace ze {
namespace platform {
namespace hw {

// Not thread-safe. Records nothing until enabled.
class TraceRecorder {
public:
    TraceRecorder();

    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }
    void setClock(std::function<std::uint64_t()> nowUs);

    // An entry for a call starting now.
    ze::sim::TraceEntry begin(ze::sim::Call call, unsigned int bus) const;
    // Records the entry with its status when enabled; returns the status.
    int finish(ze::sim::TraceEntry& entry, int status);

    const std::vector<ze::sim::TraceEntry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

private:
    bool enabled_ = false;
    std::function<std::uint64_t()> clock_;
    std::chrono::steady_clock::time_point start_;
    std::vector<ze::sim::TraceEntry> entries_;
};

}  // namespace hw
}  // namespace platform
}  // namespace ze
