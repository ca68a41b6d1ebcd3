#include <ze/platform/trace.h>

#include <time.h>

#include <algorithm>
#include <cstdio>

namespace ze {
namespace platform {
namespace {

constexpr std::uint64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

const char* callName(Call call)
{
    switch (call) {
        case Call::I2COpen:
            return "I2COpen";
        case Call::I2CWrite:
            return "I2CWrite";
        case Call::I2CRead:
            return "I2CRead";
        case Call::GpioSetValue:
            return "GpioSetValue";
        case Call::DisplayGetFreerunVfreq:
            return "DisplayGetFreerunVfreq";
        case Call::DisplaySetFreerunVfreq:
            return "DisplaySetFreerunVfreq";
    }
    return "?";
}

std::string formatTraceEntry(const TraceEntry& e)
{
    char head[96];
    std::snprintf(head, sizeof head, "%lluus %s ", static_cast<unsigned long long>(e.timeUs),
                  callName(e.call));
    std::string out = head;
    char buf[64];
    switch (e.call) {
        case Call::I2COpen:
            std::snprintf(buf, sizeof buf, "bus=%u mode=%d", e.bus, e.value);
            out += buf;
            break;
        case Call::I2CWrite:
        case Call::I2CRead: {
            std::snprintf(buf, sizeof buf, "bus=%u dev=0x%02X sub[%u]=0x%02X data=", e.bus,
                          e.devAddr, e.subAddrLen, e.subAddr);
            out += buf;
            for (std::size_t i = 0; i < e.data.size(); ++i) {
                std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : ",%02X", e.data[i]);
                out += buf;
            }
            break;
        }
        case Call::GpioSetValue:
            std::snprintf(buf, sizeof buf, "gpio=%u level=%d", e.bus, e.value);
            out += buf;
            break;
        case Call::DisplayGetFreerunVfreq:
        case Call::DisplaySetFreerunVfreq:
            std::snprintf(buf, sizeof buf, "setting=%d", e.value);
            out += buf;
            break;
    }
    std::snprintf(buf, sizeof buf, " status=%d", e.status);
    return out + buf;
}

TraceRecorder::TraceRecorder(bool enabled, std::size_t capacity)
    : enabled_(enabled), capacity_(capacity)
{
}

void TraceRecorder::setEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
}

bool TraceRecorder::enabled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_;
}

void TraceRecorder::setClock(std::function<std::uint64_t()> nowUs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = std::move(nowUs);
}

TraceEntry TraceRecorder::begin(Call call, unsigned int bus) const
{
    TraceEntry entry;
    entry.call = call;
    entry.bus = bus;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_) return entry;
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    entry.monotonicNs = static_cast<std::uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
                        static_cast<std::uint64_t>(now.tv_nsec);
    entry.timeUs =
        clock_ ? clock_()
               : static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - start_)
                                                .count());
    return entry;
}

TraceEntry TraceRecorder::begin(Call call, unsigned int bus, const I2cTarget& target) const
{
    TraceEntry entry = begin(call, bus);
    entry.devAddr = target.devAddr;
    entry.subAddrLen = target.subAddrLen;
    entry.subAddr = target.subAddr;
    return entry;
}

int TraceRecorder::finish(TraceEntry& entry, int status)
{
    entry.status = status;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_) return status;
    entry.sequence = sequence_++;
    entries_.push_back(entry);
    trim();
    return status;
}

void TraceRecorder::trim()
{
    while (entries_.size() > capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
}

std::vector<TraceEntry> TraceRecorder::entries() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<TraceEntry>(entries_.begin(), entries_.end());
}

std::vector<TraceEntry> TraceRecorder::entriesSince(std::uint64_t sequence) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    // Sequence numbers of kept entries are consecutive up to the newest.
    const std::size_t newer = static_cast<std::size_t>(
        std::min<std::uint64_t>(sequence_ - std::min(sequence, sequence_), entries_.size()));
    return std::vector<TraceEntry>(entries_.end() - static_cast<std::ptrdiff_t>(newer),
                                   entries_.end());
}

std::uint64_t TraceRecorder::dropped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void TraceRecorder::setCapacity(std::size_t capacity)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capacity_ = capacity;
    trim();
}

void TraceRecorder::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    dropped_ = 0;
}

}  // namespace platform
}  // namespace ze
