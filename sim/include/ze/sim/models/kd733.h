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
// Refused with kDataNack: an address beyond the map, a write to the
// reference, a reserved bit set in 0x2D, a control byte other than 0x41 and
// a read of the control register. A setting write keeps the part busy for
// kWriteBusyUs, the NVM store for kProgramUs. A power cycle reloads the
// setting from NVM; the reference never changes.

#include <cstddef>
#include <cstdint>

#include <ze/sim/register_file.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT Kd733Chip : public RegisterChip {
public:
    static constexpr std::uint8_t kRegRefHigh = 0x2B;
    static constexpr std::uint8_t kRegRefLow = 0x2C;
    static constexpr std::uint8_t kRegSetHigh = 0x2D;
    static constexpr std::uint8_t kRegSetLow = 0x2E;
    static constexpr std::uint8_t kRegControl = 0xFF;
    static constexpr std::uint8_t kControlSave = 0x41;

    static constexpr std::uint8_t kCodeHighMask = 0x03;
    static constexpr std::uint16_t kFactoryReference = 0x01C0;
    static constexpr std::uint64_t kWriteBusyUs = 20000;
    static constexpr std::uint64_t kProgramUs = 60000;

    // The reference of this part; the setting and its NVM copy start there.
    explicit Kd733Chip(std::uint16_t reference = kFactoryReference);

    std::uint16_t reference() const;
    void setReference(std::uint16_t code);
    // Raw register contents, for parts whose 0x2B carries more than bits 9..8.
    void setReferenceRegisters(std::uint8_t high, std::uint8_t low);

    std::uint16_t setting() const;
    void setSetting(std::uint16_t code);
    std::uint16_t nvmSetting() const;
    unsigned int saveCount() const { return saves_; }

    unsigned int heldValue() const override;

    void dump(ModelFields& fields) const override;

protected:
    int checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count) override;
    int store(std::uint8_t address, std::uint8_t value) override;
    int load(std::uint8_t address, std::uint8_t* value) override;

private:
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
