#include "trace_recorder.h"

namespace ze {
namespace platform {
namespace hw {

TraceRecorder::TraceRecorder() : start_(std::chrono::steady_clock::now()) {}

void TraceRecorder::setClock(std::function<std::uint64_t()> nowUs)
{
    clock_ = std::move(nowUs);
}

ze::sim::TraceEntry TraceRecorder::begin(ze::sim::Call call, unsigned int bus) const
{
    ze::sim::TraceEntry entry;
    entry.call = call;
    entry.bus = bus;
    if (!enabled_) return entry;
    entry.timeUs = clock_ ? clock_()
                          : static_cast<std::uint64_t>(
                                std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - start_)
                                    .count());
    return entry;
}

int TraceRecorder::finish(ze::sim::TraceEntry& entry, int status)
{
    if (enabled_) {
        entry.status = status;
        entries_.push_back(std::move(entry));
    }
    return status;
}

}  // namespace hw
}  // namespace platform
}  // namespace ze
