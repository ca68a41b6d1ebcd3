#pragma once
// The KD733 VCOM chip. Codes are 10 bits; bits 9..8 sit in bits 1..0 of the
// high register.
//
//   0x2B  reference code, bits 9..8   read only, set per part
//   0x2C  reference code, bits 7..0   read only, set per part
//   0x2D  setting code, bits 9..8     read / write; bits 7..2 reserved, 0
//   0x2E  setting code, bits 7..0     read / write
//   0xFF  control                     write only; 0x41 stores the setting in NVM
//
// A write phase starts with the register address; its data bytes go to
// consecutive registers. A read phase reads on from the register last
// addressed. Refused with kDataNack: an address beyond the map, a write to
// the reference, a reserved bit set in 0x2D, a control byte other than 0x41
// and a read of the control register. A power cycle reloads the setting from
// NVM; the reference never changes.

#include <cstddef>
#include <cstdint>

#include <ze/sim/device.h>

namespace ze {
namespace sim {

class ZE_PLATFORM_EXPORT Kd733Chip : public I2cDevice {
public:
    static constexpr std::uint8_t kRegRefHigh = 0x2B;
    static constexpr std::uint8_t kRegRefLow = 0x2C;
    static constexpr std::uint8_t kRegSetHigh = 0x2D;
    static constexpr std::uint8_t kRegSetLow = 0x2E;
    static constexpr std::uint8_t kRegControl = 0xFF;
    static constexpr std::uint8_t kControlSave = 0x41;

    static constexpr std::uint8_t kCodeHighMask = 0x03;
    static constexpr std::uint16_t kFactoryReference = 0x01C0;

    // The reference of this part; the setting and its NVM copy start there.
    explicit Kd733Chip(std::uint16_t reference = kFactoryReference);

    std::uint16_t reference() const;
    void setReference(std::uint16_t code);
    // Raw register contents, for parts whose 0x2B carries more than bits 9..8.
    void setReferenceRegisters(std::uint8_t high, std::uint8_t low);

    std::uint16_t setting() const;
    void setSetting(std::uint16_t code);
    std::uint16_t nvmSetting() const { return nvm_; }
    unsigned int saveCount() const { return saves_; }
    // Content of any register, 0 for unmapped ones.
    std::uint8_t reg(std::uint8_t address) const;

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;

private:
    int store(std::uint8_t reg, std::uint8_t value);
    int load(std::uint8_t address, std::uint8_t* value) const;

    std::uint8_t pointer_ = 0;
    std::uint8_t refHigh_ = 0;
    std::uint8_t refLow_ = 0;
    std::uint8_t setHigh_ = 0;
    std::uint8_t setLow_ = 0;
    std::uint16_t nvm_ = 0;
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
