#pragma once

#include <array>
#include <cstdint>

#include <ze/sim/device.h>

namespace ze {
namespace sim {

// 256 8-bit registers behind an auto-incrementing register pointer, wrapping
// at 0xFF. A write phase sets the pointer from its first byte and stores the
// rest; a read phase reads from the pointer on.
class ZE_PLATFORM_EXPORT RegisterFile : public I2cDevice {
public:
    RegisterFile();

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;

    std::uint8_t reg(std::uint8_t address) const { return regs_[address]; }
    void setReg(std::uint8_t address, std::uint8_t value) { regs_[address] = value; }
    std::uint8_t pointer() const { return pointer_; }

protected:
    std::array<std::uint8_t, 256> regs_{};
    std::uint8_t pointer_ = 0;
};

}  // namespace sim
}  // namespace ze
