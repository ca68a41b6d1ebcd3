#pragma once
// RT6966 VCOM chip: a 10-bit VCOM code in two volatile registers.
//
//   0x25  VCOM_H  bits 5..0 = code bits 9..4   bits 7..6 reserved, must be 0
//   0x26  VCOM_L  bits 7..4 = code bits 3..0   bits 3..0 reserved, must be 0
//
// So that a faulty driver shows, the model refuses rather than ignores
// (kDataNack, nothing changed) a write phase that reaches beyond 0x25..0x26
// or sets a reserved bit, and a read outside 0x25..0x26 (or before any
// register was addressed). A write that reaches VCOM_L moves the output,
// which settles for kSettleUs; the part does not answer meanwhile. The
// registers are volatile: the driver keeps the VCOM value elsewhere, so the
// model has no NVM and every power cycle restores kPowerOnCode.

#include <cstddef>
#include <cstdint>

#include <ze/sim/register_file.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT Rt6966 : public RegisterChip {
public:
    static constexpr std::uint8_t kRegVcomH = 0x25;
    static constexpr std::uint8_t kRegVcomL = 0x26;
    static constexpr std::uint8_t kVcomHReserved = 0xC0;
    static constexpr std::uint8_t kVcomLReserved = 0x0F;
    // Code after power-on: mid-scale.
    static constexpr std::uint16_t kPowerOnCode = 0x200;
    static constexpr std::uint64_t kSettleUs = 50000;

    Rt6966();

    void powerCycle() override;
    unsigned int heldValue() const override;
    void dump(ModelFields& fields) const override;

    // The 10-bit code the registers hold.
    std::uint16_t code() const;
    // Loads raw register contents, reserved bits included, as a chip left in
    // an odd state would hold them.
    void forceReg(std::uint8_t address, std::uint8_t value) { setReg(address, value); }

protected:
    int checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count) override;
    int store(std::uint8_t address, std::uint8_t value) override;
    int load(std::uint8_t address, std::uint8_t* value) override;
};

}  // namespace sim
}  // namespace ze
