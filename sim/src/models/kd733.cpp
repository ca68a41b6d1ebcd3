#include <ze/sim/models/kd733.h>

#include "install.h"

namespace ze {
namespace sim {
namespace {

constexpr unsigned int kByteBits = 8;
constexpr std::uint8_t kByteMask = 0xFF;

std::uint16_t codeOf(std::uint8_t high, std::uint8_t low)
{
    return static_cast<std::uint16_t>((high & Kd733Chip::kCodeHighMask) << kByteBits | low);
}

bool inMap(std::uint8_t address)
{
    return address >= Kd733Chip::kRegRefHigh && address <= Kd733Chip::kRegSetLow;
}

}  // namespace

Kd733Chip::Kd733Chip(std::uint16_t reference) : RegisterChip(kRegSetHigh, 2)
{
    setReference(reference);
    setSetting(reference);
    programNvm();
}

std::uint16_t Kd733Chip::reference() const
{
    return codeOf(regs_[kRegRefHigh], regs_[kRegRefLow]);
}

void Kd733Chip::setReference(std::uint16_t code)
{
    setReferenceRegisters(static_cast<std::uint8_t>(code >> kByteBits & kCodeHighMask),
                          static_cast<std::uint8_t>(code & kByteMask));
}

void Kd733Chip::setReferenceRegisters(std::uint8_t high, std::uint8_t low)
{
    regs_[kRegRefHigh] = high;
    regs_[kRegRefLow] = low;
}

std::uint16_t Kd733Chip::setting() const
{
    return codeOf(regs_[kRegSetHigh], regs_[kRegSetLow]);
}

void Kd733Chip::setSetting(std::uint16_t code)
{
    regs_[kRegSetHigh] = static_cast<std::uint8_t>(code >> kByteBits & kCodeHighMask);
    regs_[kRegSetLow] = static_cast<std::uint8_t>(code & kByteMask);
}

std::uint16_t Kd733Chip::nvmSetting() const
{
    return codeOf(nvm_[kRegSetHigh], nvm_[kRegSetLow]);
}

unsigned int Kd733Chip::heldValue() const
{
    return (regs_[kRegSetLow] - regs_[kRegRefLow]) & kByteMask;
}

int Kd733Chip::checkWrite(std::uint8_t first, const std::uint8_t*, std::size_t)
{
    if (!inMap(first) && first != kRegControl) return refuse(kDataNack, "no such register");
    return 0;
}

int Kd733Chip::store(std::uint8_t address, std::uint8_t value)
{
    switch (address) {
        case kRegSetHigh:
            if ((value & ~kCodeHighMask) != 0) return refuse(kDataNack, "reserved bit set");
            break;
        case kRegSetLow:
            break;
        case kRegControl:
            if (value != kControlSave) return refuse(kDataNack, "unknown control byte");
            programNvm();
            ++saves_;
            startBusy(kProgramUs, "programming NVM");
            return 0;
        default:
            return refuse(kDataNack, "register not writable");
    }
    startBusy(kWriteBusyUs, "latching a register");
    return RegisterChip::store(address, value);
}

int Kd733Chip::load(std::uint8_t address, std::uint8_t* value)
{
    if (!inMap(address)) return refuse(kDataNack, "register not readable");
    return RegisterChip::load(address, value);
}

void Kd733Chip::dump(ModelFields& fields) const
{
    fields.hex("reference", reference())
        .hex("setting", setting())
        .hex("nvm", nvmSetting())
        .count("saves", saveCount());
}

namespace {
const ChipModelRegistration kKd733({"kd733", installChip<Kd733Chip>, false, true, kByteCodeMax, 0});
}  // namespace

}  // namespace sim
}  // namespace ze
