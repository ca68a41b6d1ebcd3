#pragma once
// The BOE VCOM chip.
//
//   0x25  code, high byte   read / write
//   0x26  code, low byte    read / write
//   0xFF  control           write only; 0x01 enables reading, 0x40 stores
//                           the code in NVM; it holds the last byte written
//
// A write phase starts with the register address; its data bytes go to
// consecutive registers. A read phase reads on from the register last
// addressed. Refused with kDataNack: an address or a byte beyond the map, a
// control byte other than 0x01 and 0x40, a read of the control register, and
// any read while the control register does not hold 0x01. A power cycle
// reloads the code from NVM and clears the control register.

#include <cstddef>
#include <cstdint>

#include <ze/sim/device.h>

namespace ze {
namespace sim {

class ZE_PLATFORM_EXPORT BoeChip : public I2cDevice {
public:
    static constexpr std::uint8_t kRegCodeHigh = 0x25;
    static constexpr std::uint8_t kRegCodeLow = 0x26;
    static constexpr std::uint8_t kRegControl = 0xFF;
    static constexpr std::uint8_t kControlReadEnable = 0x01;
    static constexpr std::uint8_t kControlSave = 0x40;

    static constexpr std::uint16_t kFactoryCode = 0x0211;

    std::uint16_t code() const { return static_cast<std::uint16_t>(high_ << 8 | low_); }
    // Register 0x25 takes the high byte, 0x26 the low byte.
    void setCode(std::uint16_t code);
    std::uint16_t nvmCode() const { return nvm_; }
    std::uint8_t control() const { return control_; }
    unsigned int saveCount() const { return saves_; }

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;

private:
    int store(std::uint8_t reg, std::uint8_t value);
    int load(std::uint8_t reg, std::uint8_t* value) const;

    std::uint8_t pointer_ = 0;
    std::uint8_t high_ = kFactoryCode >> 8;
    std::uint8_t low_ = kFactoryCode & 0xFF;
    std::uint8_t control_ = 0;
    std::uint16_t nvm_ = kFactoryCode;
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
