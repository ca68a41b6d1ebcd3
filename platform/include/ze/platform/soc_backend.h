#pragma once
// The seam behind the QEL_* functions: one backend serves them all.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <qel/soc.h>
#include <ze/platform/export.h>
#include <ze/platform/trace.h>

namespace ze {
namespace platform {

class ZE_PLATFORM_EXPORT SocBackend {
public:
    virtual ~SocBackend();

    virtual const char* name() const = 0;
    // The I2C bus numbers this backend offers; the HAL core publishes an I2C
    // driver for each.
    virtual std::vector<unsigned int> buses() const = 0;

    virtual int i2cOpen(unsigned int bus, unsigned int mode) = 0;
    virtual int i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                         unsigned int length) = 0;
    virtual int i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                        unsigned char* buffer) = 0;
    virtual int gpioSetValue(unsigned int gpio, unsigned int level) = 0;
    virtual int displayGetFreerunVfreq(int* setting) = 0;
    virtual int displaySetFreerunVfreq(int setting) = 0;

    // The record of this backend's calls; see ze/platform/trace.h.
    std::vector<TraceEntry> trace() const { return recorder_.entries(); }
    // The entries from sequence number `sequence` on; see TraceRecorder.
    std::vector<TraceEntry> traceSince(std::uint64_t sequence) const
    {
        return recorder_.entriesSince(sequence);
    }
    void clearTrace() { recorder_.clear(); }
    void setTraceEnabled(bool enabled) { recorder_.setEnabled(enabled); }
    // The trace keeps the newest entries only; see TraceRecorder.
    std::uint64_t traceDropped() const { return recorder_.dropped(); }
    void setTraceCapacity(std::size_t entries) { recorder_.setCapacity(entries); }
    // Time source of the trace in microseconds (default: monotonic time since construction).
    void setClock(std::function<std::uint64_t()> nowUs) { recorder_.setClock(std::move(nowUs)); }

protected:
    // A backend in long-running use starts with its trace off, so that the
    // trace does not grow without end.
    explicit SocBackend(bool traceEnabled = false) : recorder_(traceEnabled) {}

    TraceRecorder recorder_;
};

// The backend the QEL_* functions use. Chosen at first use from the platform
// configuration ($ZE_PLATFORM_ROOT/etc/zeplatform.conf, [soc] backend = linux
// or sim); without a usable configuration every call fails with -ENODEV. The
// reference is valid while the backend stays installed.
ZE_PLATFORM_EXPORT SocBackend& socBackend();
// Replaces the backend; nullptr makes the next use choose again.
ZE_PLATFORM_EXPORT void setSocBackend(std::shared_ptr<SocBackend> backend);

}  // namespace platform
}  // namespace ze
