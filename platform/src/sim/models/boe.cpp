#include <ze/sim/models/boe.h>

#include <memory>

#include "factories.h"

namespace ze {
namespace sim {

void BoeChip::setCode(std::uint16_t code)
{
    high_ = static_cast<std::uint8_t>(code >> 8);
    low_ = static_cast<std::uint8_t>(code);
}

// A write phase: register pointer, then data bytes to successive registers.
int BoeChip::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) return 0;
    if (bytes[0] != kRegCodeHigh && bytes[0] != kRegCodeLow && bytes[0] != kRegControl) {
        return kDataNack;
    }
    pointer_ = bytes[0];
    for (std::size_t i = 1; i < count; ++i, ++pointer_) {
        if (const int status = store(pointer_, bytes[i])) return status;
    }
    return 0;
}

int BoeChip::read(std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, ++pointer_) {
        if (const int status = load(pointer_, &out[i])) return status;
    }
    return 0;
}

int BoeChip::store(std::uint8_t reg, std::uint8_t value)
{
    switch (reg) {
    case kRegCodeHigh:
        high_ = value;
        return 0;
    case kRegCodeLow:
        low_ = value;
        return 0;
    case kRegControl:
        if (value == kControlSave) {
            nvm_ = code();
            ++saves_;
        } else if (value != kControlReadEnable) {
            return kDataNack;
        }
        control_ = value;
        return 0;
    default:
        return kDataNack;
    }
}

int BoeChip::load(std::uint8_t reg, std::uint8_t* value) const
{
    if (control_ != kControlReadEnable) return kDataNack;
    switch (reg) {
    case kRegCodeHigh:
        *value = high_;
        return 0;
    case kRegCodeLow:
        *value = low_;
        return 0;
    default:
        return kDataNack;
    }
}

void BoeChip::powerCycle()
{
    setCode(nvm_);
    control_ = 0;
    pointer_ = 0;
}

namespace detail {

Panel makeBoePanel(Board& board, const PanelConfig& config)
{
    auto chip = std::make_shared<BoeChip>();
    board.attach(config.bus, config.vcomAddr, chip);
    return Panel{chip, nullptr};
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
