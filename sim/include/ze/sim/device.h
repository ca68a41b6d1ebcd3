#pragma once
// A device model on a simulated I2C bus, and the time it keeps.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>

#include <ze/sim/export.h>

namespace ze {
namespace sim {

// Statuses a simulated transfer can end with, as Linux reports them.
constexpr int kAddressNack = -ENXIO;  // no device acknowledged the address
constexpr int kDataNack = -EIO;       // the device refused a byte
constexpr int kNoSuchBus = -ENODEV;
constexpr int kNoSuchLine = -ENOENT;

// Microseconds on a monotonic scale.
using Clock = std::function<std::uint64_t()>;
// The clock boards and unattached devices start with: CLOCK_MONOTONIC unless
// replaced. Test binaries replace it with their virtual clock, so that the
// parts' busy windows pass as the virtual waits do.
ZE_SIM_EXPORT void setDefaultClock(Clock clock);
ZE_SIM_EXPORT std::uint64_t defaultClockUs();

// What a board lends a device attached to it.
class ZE_SIM_EXPORT BoardLink {
public:
    virtual std::uint64_t nowUs() = 0;
    // The device refused an access the driver should not have made.
    virtual void refused(int status, const char* reason) = 0;

protected:
    ~BoardLink() = default;
};

// Sees the bus as a chip does: write phases and read phases addressed to it.
// A combined transfer (sub-address, repeated start, read) arrives as a write
// phase of the sub-address followed by a read phase.
class ZE_SIM_EXPORT I2cDevice {
public:
    virtual ~I2cDevice();

    // The bytes after the address byte. Returns 0 when every byte was
    // acknowledged, kAddressNack or kDataNack (or another status) otherwise.
    virtual int write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Fills `out` with `count` bytes. Returns 0, or a refusal status.
    virtual int read(std::uint8_t* out, std::size_t count) = 0;
    // Power removed and restored: volatile state reloads from non-volatile memory.
    virtual void powerCycle() {}

    // Done by Board::attach. Unattached, a device keeps the default clock and
    // reports to nobody.
    void connect(BoardLink* link) { link_ = link; }
    // While a part programs its NVM or settles it does not acknowledge its
    // address; the board checks this before every phase. nullptr: it answers.
    const char* busyReason() const;
    // Power lost: whatever kept the part busy is over. Board::powerCycle calls
    // it after powerCycle(), which may still see the window that was cut.
    void endBusy() { busyReason_ = nullptr; }

protected:
    std::uint64_t nowUs() const;
    // The part ignores its address for `durationUs` from now.
    void startBusy(std::uint64_t durationUs, const char* reason);
    bool busy() const { return busyReason() != nullptr; }
    // Reports the refusal to the board; returns `status`.
    int refuse(int status, const char* reason) const;

private:
    BoardLink* link_ = nullptr;
    std::uint64_t busyUntilUs_ = 0;
    const char* busyReason_ = nullptr;
};

}  // namespace sim
}  // namespace ze
