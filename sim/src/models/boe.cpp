#include <ze/sim/models/boe.h>

#include "install.h"

namespace ze {
namespace sim {
namespace {

constexpr unsigned int kByteBits = 8;
constexpr std::uint8_t kByteMask = 0xFF;
// The driver's value is the code less this, kept to 8 bits.
constexpr unsigned int kValueOffset = 0x191;

std::uint16_t codeOf(std::uint8_t high, std::uint8_t low)
{
    return static_cast<std::uint16_t>(high << kByteBits | low);
}

}  // namespace

BoeChip::BoeChip() : RegisterChip(kRegCodeHigh, 2)
{
    setCode(kFactoryCode);
    programNvm();
}

std::uint16_t BoeChip::code() const
{
    return codeOf(regs_[kRegCodeHigh], regs_[kRegCodeLow]);
}

void BoeChip::setCode(std::uint16_t code)
{
    regs_[kRegCodeHigh] = static_cast<std::uint8_t>(code >> kByteBits);
    regs_[kRegCodeLow] = static_cast<std::uint8_t>(code & kByteMask);
}

std::uint16_t BoeChip::nvmCode() const
{
    return codeOf(nvm_[kRegCodeHigh], nvm_[kRegCodeLow]);
}

unsigned int BoeChip::heldValue() const
{
    return (regs_[kRegCodeLow] - kValueOffset) & kByteMask;
}

int BoeChip::checkWrite(std::uint8_t first, const std::uint8_t*, std::size_t)
{
    if (first != kRegCodeHigh && first != kRegCodeLow && first != kRegControl) {
        return refuse(kDataNack, "no such register");
    }
    return 0;
}

// The high byte alone cannot be judged against the old low byte: the driver
// writes the high byte first, so the code is checked when its low byte lands.
int BoeChip::store(std::uint8_t address, std::uint8_t value)
{
    switch (address) {
        case kRegCodeHigh:
            if (value < kCodeMin >> kByteBits || value > kCodeMax >> kByteBits) {
                return refuse(kDataNack, "code out of range");
            }
            break;
        case kRegCodeLow: {
            const std::uint16_t code = codeOf(regs_[kRegCodeHigh], value);
            if (code < kCodeMin || code > kCodeMax) return refuse(kDataNack, "code out of range");
            break;
        }
        case kRegControl:
            if (value != kControlSave && value != kControlReadEnable) {
                return refuse(kDataNack, "unknown control byte");
            }
            break;
        default:
            return refuse(kDataNack, "no such register");
    }
    RegisterChip::store(address, value);
    if (value == kControlSave && address == kRegControl) {
        programNvm();
        ++saves_;
        startBusy(kWriteBusyUs, "programming NVM");
    } else {
        startBusy(kWriteBusyUs, "latching a register");
    }
    return 0;
}

int BoeChip::load(std::uint8_t address, std::uint8_t* value)
{
    if (control() != kControlReadEnable) return refuse(kDataNack, "reading not enabled");
    if (address != kRegCodeHigh && address != kRegCodeLow) {
        return refuse(kDataNack, "register not readable");
    }
    return RegisterChip::load(address, value);
}

void BoeChip::powerCycle()
{
    RegisterChip::powerCycle();
    regs_[kRegControl] = 0;
}

void BoeChip::dump(ModelFields& fields) const
{
    fields.hex("code", code())
        .hex("nvm", nvmCode())
        .hex("control", control())
        .count("saves", saveCount());
}

namespace {
const ChipModelRegistration kBoe({"boe", installChip<BoeChip>, false, true, kByteCodeMax, 0});
}  // namespace

}  // namespace sim
}  // namespace ze
