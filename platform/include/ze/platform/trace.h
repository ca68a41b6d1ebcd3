#pragma once
// The record a SoC backend keeps of its calls: what `vcomctl --trace` prints
// and what tests assert over.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <qel/soc.h>
#include <ze/platform/export.h>

namespace ze {
namespace platform {

enum class Call {
    I2COpen,
    I2CWrite,
    I2CRead,
    GpioSetValue,
    DisplayGetFreerunVfreq,
    DisplaySetFreerunVfreq
};
ZE_PLATFORM_EXPORT const char* callName(Call call);

struct TraceEntry {
    std::uint64_t timeUs = 0;
    Call call = Call::I2COpen;
    unsigned int bus = 0;      // I2C calls: bus; GpioSetValue: GPIO number
    std::uint8_t devAddr = 0;  // 8-bit form, as the caller gave it
    std::uint8_t subAddrLen = 0;
    std::uint8_t subAddr = 0;
    std::vector<std::uint8_t> data;  // bytes written, or bytes read (on success)
    int value = 0;                   // open mode, GPIO level or free-run setting
    int status = 0;
    // CLOCK_MONOTONIC at the start of the call, as ftrace and a logic
    // analyser's capture stamped by the same host can be lined up with.
    std::uint64_t monotonicNs = 0;
    // I2C calls: the transaction as the kernel saw it ("I2C_RDWR",
    // "smbus-write-byte-data", "smbus-read-i2c-block-data", ...), "sim" on the
    // simulated board, "" when the call failed before reaching one.
    const char* transaction = "";
    std::uint64_t sequence = 0;  // counts every kept entry, dropped ones included
};
// One line, e.g. "12000us I2CWrite bus=1 dev=0xE8 sub[1]=0x01 data=34 status=0".
ZE_PLATFORM_EXPORT std::string formatTraceEntry(const TraceEntry& entry);

// Thread-safe. While disabled nothing is timed or kept, and a call costs no
// allocation. While enabled the newest `capacity` entries are kept; older ones
// are dropped and counted.
class ZE_PLATFORM_EXPORT TraceRecorder {
public:
    static constexpr std::size_t kDefaultCapacity = 4096;

    explicit TraceRecorder(bool enabled, std::size_t capacity = kDefaultCapacity);

    void setEnabled(bool enabled);
    bool enabled() const;
    // Time source in microseconds (default: monotonic time since construction).
    void setClock(std::function<std::uint64_t()> nowUs);

    // An entry for a call starting now; the I2C form also names the target.
    TraceEntry begin(Call call, unsigned int bus) const;
    TraceEntry begin(Call call, unsigned int bus, const I2cTarget& target) const;
    // Keeps the entry with its status when enabled; returns the status.
    int finish(TraceEntry& entry, int status);

    std::vector<TraceEntry> entries() const;
    // The kept entries whose sequence number is `sequence` or later: a
    // reader that follows the record takes only what is new to it, at a cost
    // that does not grow with the record.
    std::vector<TraceEntry> entriesSince(std::uint64_t sequence) const;
    // Entries dropped to keep within the capacity since the last clear().
    std::uint64_t dropped() const;
    void setCapacity(std::size_t capacity);
    void clear();

private:
    void trim();

    mutable std::mutex mutex_;
    bool enabled_;
    std::size_t capacity_;
    std::function<std::uint64_t()> clock_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::deque<TraceEntry> entries_;
    std::uint64_t sequence_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace platform
}  // namespace ze
