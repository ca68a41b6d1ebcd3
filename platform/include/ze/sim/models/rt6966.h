#pragma once
// RT6966 VCOM chip: a 10-bit VCOM code in two volatile registers.
//
//   0x25  VCOM_H  bits 5..0 = code bits 9..4   bits 7..6 reserved, must be 0
//   0x26  VCOM_L  bits 7..4 = code bits 3..0   bits 3..0 reserved, must be 0
//
// A write phase starts with the register address and may carry data bytes,
// which go to consecutive registers. A read phase reads on from the register
// the last write phase addressed. So that a faulty driver shows, the model
// refuses rather than ignores (kDataNack, nothing changed)
//   - an empty write phase, and an address or a byte beyond 0x25..0x26;
//   - a data byte with a reserved bit set;
//   - a read phase before any register was addressed, or past 0x26.
// The registers are volatile: the driver keeps the VCOM value elsewhere, so
// the model has no NVM and every power cycle restores kPowerOnCode.

#include <cstddef>
#include <cstdint>

#include <ze/sim/device.h>

namespace ze {
namespace sim {

class ZE_PLATFORM_EXPORT Rt6966 : public I2cDevice {
public:
    static constexpr std::uint8_t kRegVcomH = 0x25;
    static constexpr std::uint8_t kRegVcomL = 0x26;
    static constexpr std::uint8_t kVcomHReserved = 0xC0;
    static constexpr std::uint8_t kVcomLReserved = 0x0F;
    // Code after power-on: mid-scale.
    static constexpr std::uint16_t kPowerOnCode = 0x200;

    Rt6966();

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;

    // The 10-bit code the registers hold.
    std::uint16_t code() const;
    // Contents of VCOM_H or VCOM_L (0 for any other address).
    std::uint8_t reg(std::uint8_t address) const;
    // Loads raw register contents, reserved bits included, as a chip left in
    // an odd state would hold them. Ignored for any other address.
    void forceReg(std::uint8_t address, std::uint8_t value);

private:
    static bool isRegister(unsigned int address);

    std::uint8_t vcomH_ = 0;
    std::uint8_t vcomL_ = 0;
    unsigned int pointer_ = 0;  // 0: no register addressed since power-on
};

}  // namespace sim
}  // namespace ze
