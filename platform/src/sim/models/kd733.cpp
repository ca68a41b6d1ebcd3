#include <ze/sim/models/kd733.h>

#include <memory>

#include "factories.h"

namespace ze {
namespace sim {
namespace {

std::uint16_t code(std::uint8_t high, std::uint8_t low)
{
    return static_cast<std::uint16_t>((high & Kd733Chip::kCodeHighMask) << 8 | low);
}

std::uint8_t codeHigh(std::uint16_t code)
{
    return static_cast<std::uint8_t>(code >> 8 & Kd733Chip::kCodeHighMask);
}

}  // namespace

Kd733Chip::Kd733Chip(std::uint16_t reference)
{
    setReference(reference);
    setSetting(reference);
    nvm_ = setting();
}

std::uint16_t Kd733Chip::reference() const { return code(refHigh_, refLow_); }

void Kd733Chip::setReference(std::uint16_t code)
{
    setReferenceRegisters(codeHigh(code), static_cast<std::uint8_t>(code));
}

void Kd733Chip::setReferenceRegisters(std::uint8_t high, std::uint8_t low)
{
    refHigh_ = high;
    refLow_ = low;
}

std::uint16_t Kd733Chip::setting() const { return code(setHigh_, setLow_); }

void Kd733Chip::setSetting(std::uint16_t code)
{
    setHigh_ = codeHigh(code);
    setLow_ = static_cast<std::uint8_t>(code);
}

std::uint8_t Kd733Chip::reg(std::uint8_t address) const
{
    switch (address) {
    case kRegRefHigh: return refHigh_;
    case kRegRefLow: return refLow_;
    case kRegSetHigh: return setHigh_;
    case kRegSetLow: return setLow_;
    default: return 0;
    }
}

// A write phase: register pointer, then data bytes to successive registers.
int Kd733Chip::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) return 0;
    if (bytes[0] < kRegRefHigh || (bytes[0] > kRegSetLow && bytes[0] != kRegControl)) {
        return kDataNack;
    }
    pointer_ = bytes[0];
    for (std::size_t i = 1; i < count; ++i, ++pointer_) {
        if (const int status = store(pointer_, bytes[i])) return status;
    }
    return 0;
}

int Kd733Chip::read(std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, ++pointer_) {
        if (const int status = load(pointer_, &out[i])) return status;
    }
    return 0;
}

int Kd733Chip::store(std::uint8_t reg, std::uint8_t value)
{
    switch (reg) {
    case kRegSetHigh:
        if ((value & ~kCodeHighMask) != 0) return kDataNack;
        setHigh_ = value;
        return 0;
    case kRegSetLow:
        setLow_ = value;
        return 0;
    case kRegControl:
        if (value != kControlSave) return kDataNack;
        nvm_ = setting();
        ++saves_;
        return 0;
    default:
        return kDataNack;
    }
}

int Kd733Chip::load(std::uint8_t address, std::uint8_t* value) const
{
    if (address < kRegRefHigh || address > kRegSetLow) return kDataNack;
    *value = reg(address);
    return 0;
}

void Kd733Chip::powerCycle()
{
    setSetting(nvm_);
    pointer_ = 0;
}

namespace detail {

Panel makeKd733Panel(Board& board, const PanelConfig& config)
{
    auto chip = std::make_shared<Kd733Chip>();
    board.attach(config.bus, config.vcomAddr, chip);
    return Panel{chip, nullptr};
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
