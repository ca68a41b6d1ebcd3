#include <ze/sim/models/rt6966.h>

#include "install.h"

namespace ze {
namespace sim {
namespace {

constexpr unsigned int kCodeLowBits = 4;
constexpr std::uint16_t kCodeLowMask = 0x00F;
constexpr std::uint8_t kVcomHMask = 0x3F;
// The driver's value is the code less this, in 16 bits.
constexpr unsigned int kValueOffset = 370;
constexpr unsigned int kValueMask = 0xFFFF;
constexpr std::uint16_t kCodeMax = 0x3FF;  // ten bits

bool isRegister(unsigned int address)
{
    return address == Rt6966::kRegVcomH || address == Rt6966::kRegVcomL;
}

std::uint8_t reservedBits(unsigned int address)
{
    return address == Rt6966::kRegVcomH ? Rt6966::kVcomHReserved : Rt6966::kVcomLReserved;
}

}  // namespace

Rt6966::Rt6966() : RegisterChip(kRegVcomH, 0)
{
    powerCycle();
}

void Rt6966::powerCycle()
{
    RegisterChip::powerCycle();
    regs_[kRegVcomH] = static_cast<std::uint8_t>((kPowerOnCode >> kCodeLowBits) & kVcomHMask);
    regs_[kRegVcomL] = static_cast<std::uint8_t>((kPowerOnCode & kCodeLowMask) << kCodeLowBits);
}

std::uint16_t Rt6966::code() const
{
    return static_cast<std::uint16_t>(((regs_[kRegVcomH] & kVcomHMask) << kCodeLowBits) |
                                      (regs_[kRegVcomL] >> kCodeLowBits));
}

unsigned int Rt6966::heldValue() const
{
    return (code() - kValueOffset) & kValueMask;
}

// All or nothing: every byte is checked before any register changes.
int Rt6966::checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count)
{
    if (!isRegister(first) || first + count > kRegVcomL + 1u) {
        return refuse(kDataNack, "no such register");
    }
    for (std::size_t i = 0; i < count; ++i) {
        if ((data[i] & reservedBits(first + i)) != 0) return refuse(kDataNack, "reserved bit set");
    }
    return 0;
}

int Rt6966::store(std::uint8_t address, std::uint8_t value)
{
    if (address == kRegVcomL) startBusy(kSettleUs, "output settling");
    return RegisterChip::store(address, value);
}

int Rt6966::load(std::uint8_t address, std::uint8_t* value)
{
    if (!isRegister(address)) return refuse(kDataNack, "register not readable");
    return RegisterChip::load(address, value);
}

void Rt6966::dump(ModelFields& fields) const
{
    fields.hex("vcom_h", reg(kRegVcomH)).hex("vcom_l", reg(kRegVcomL)).hex("code", code());
}

namespace {
const ChipModelRegistration kRt6966({"rt6966", installChip<Rt6966>, false, false, kCodeMax,
                                     kValueOffset});
}  // namespace

}  // namespace sim
}  // namespace ze
