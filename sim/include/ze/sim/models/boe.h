#pragma once
// The BOE VCOM chip: a code of 401..656 (0x191..0x290) in two registers.
//
//   0x25  code, high byte   read / write; 1 or 2
//   0x26  code, low byte    read / write; with 0x25, a code in range
//   0xFF  control           write only; 0x01 enables reading, 0x40 stores
//                           the code in NVM; it holds the last byte written
//
// Refused with kDataNack: an address or a byte beyond the map, a code out of
// range, a control byte other than 0x01 and 0x40, a read of the control
// register, and any read while the control register does not hold 0x01.
// Every register write keeps the part busy for kWriteBusyUs (the NVM store
// too). A power cycle reloads the code from NVM and clears the control register.

#include <cstddef>
#include <cstdint>

#include <ze/sim/register_file.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT BoeChip : public RegisterChip {
public:
    static constexpr std::uint8_t kRegCodeHigh = 0x25;
    static constexpr std::uint8_t kRegCodeLow = 0x26;
    static constexpr std::uint8_t kRegControl = 0xFF;
    static constexpr std::uint8_t kControlReadEnable = 0x01;
    static constexpr std::uint8_t kControlSave = 0x40;

    static constexpr std::uint16_t kCodeMin = 0x0191;
    static constexpr std::uint16_t kCodeMax = 0x0290;
    static constexpr std::uint16_t kFactoryCode = 0x0211;
    static constexpr std::uint64_t kWriteBusyUs = 20000;

    BoeChip();

    std::uint16_t code() const;
    // Register 0x25 takes the high byte, 0x26 the low byte.
    void setCode(std::uint16_t code);
    std::uint16_t nvmCode() const;
    std::uint8_t control() const { return regs_[kRegControl]; }
    unsigned int saveCount() const { return saves_; }

    unsigned int heldValue() const override;

    void dump(ModelFields& fields) const override;
    void powerCycle() override;

protected:
    int checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count) override;
    int store(std::uint8_t address, std::uint8_t value) override;
    int load(std::uint8_t address, std::uint8_t* value) override;

private:
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
