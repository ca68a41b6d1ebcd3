#include <ze/sim/models/rt6966.h>

#include <memory>

#include "factories.h"

namespace ze {
namespace sim {
namespace {

constexpr unsigned int kCodeLowBits = 4;
constexpr std::uint16_t kCodeLowMask = 0x00F;
constexpr std::uint8_t kVcomHMask = 0x3F;

std::uint8_t reservedBits(std::size_t address)
{
    return address == Rt6966::kRegVcomH ? Rt6966::kVcomHReserved : Rt6966::kVcomLReserved;
}

}  // namespace

Rt6966::Rt6966()
{
    powerCycle();
}

bool Rt6966::isRegister(unsigned int address)
{
    return address == kRegVcomH || address == kRegVcomL;
}

int Rt6966::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0 || !isRegister(bytes[0])) return kDataNack;
    const std::uint8_t* data = bytes + 1;
    const std::size_t dataCount = count - 1;
    if (bytes[0] + dataCount > kRegVcomL + 1u) return kDataNack;
    // All or nothing: check every byte before any register changes.
    for (std::size_t i = 0; i < dataCount; ++i) {
        if ((data[i] & reservedBits(bytes[0] + i)) != 0) return kDataNack;
    }
    pointer_ = bytes[0];
    for (std::size_t i = 0; i < dataCount; ++i, ++pointer_) {
        forceReg(static_cast<std::uint8_t>(pointer_), data[i]);
    }
    return 0;
}

int Rt6966::read(std::uint8_t* out, std::size_t count)
{
    if (count == 0) return 0;
    if (!isRegister(pointer_) || pointer_ + count > kRegVcomL + 1u) return kDataNack;
    for (std::size_t i = 0; i < count; ++i, ++pointer_) {
        out[i] = reg(static_cast<std::uint8_t>(pointer_));
    }
    return 0;
}

void Rt6966::powerCycle()
{
    vcomH_ = static_cast<std::uint8_t>((kPowerOnCode >> kCodeLowBits) & kVcomHMask);
    vcomL_ = static_cast<std::uint8_t>((kPowerOnCode & kCodeLowMask) << kCodeLowBits);
    pointer_ = 0;
}

std::uint16_t Rt6966::code() const
{
    return static_cast<std::uint16_t>(((vcomH_ & kVcomHMask) << kCodeLowBits) |
                                      (vcomL_ >> kCodeLowBits));
}

std::uint8_t Rt6966::reg(std::uint8_t address) const
{
    if (address == kRegVcomH) return vcomH_;
    if (address == kRegVcomL) return vcomL_;
    return 0;
}

void Rt6966::forceReg(std::uint8_t address, std::uint8_t value)
{
    if (address == kRegVcomH) vcomH_ = value;
    if (address == kRegVcomL) vcomL_ = value;
}

namespace detail {

Panel makeRt6966Panel(Board& board, const PanelConfig& config)
{
    auto chip = std::make_shared<Rt6966>();
    board.attach(config.bus, config.vcomAddr, chip);
    return Panel{chip, nullptr};
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
