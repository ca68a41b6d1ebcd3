#pragma once
// A device model on a simulated I2C bus.

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <ze/platform/export.h>

namespace ze {
namespace sim {

// Statuses a simulated transfer can end with, as Linux reports them.
constexpr int kAddressNack = -ENXIO;  // no device acknowledged the address
constexpr int kDataNack = -EIO;       // the device refused a byte
constexpr int kNoSuchBus = -ENODEV;
constexpr int kNoSuchLine = -ENOENT;

// Sees the bus as a chip does: write phases and read phases addressed to it.
// A combined transfer (sub-address, repeated start, read) arrives as a write
// phase of the sub-address followed by a read phase.
class ZE_PLATFORM_EXPORT I2cDevice {
public:
    virtual ~I2cDevice();

    // The bytes after the address byte. Returns 0 when every byte was
    // acknowledged, kAddressNack or kDataNack (or another status) otherwise.
    virtual int write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Fills `out` with `count` bytes. Returns 0, or a refusal status.
    virtual int read(std::uint8_t* out, std::size_t count) = 0;
    // Power removed and restored: volatile state reloads from non-volatile memory.
    virtual void powerCycle() {}
};

}  // namespace sim
}  // namespace ze
