#include <ze/sim/models/auo.h>

#include <memory>

#include "factories.h"

namespace ze {
namespace sim {

AuoChip::AuoChip() = default;

void AuoChip::useGate(std::uint32_t accessLevel, unsigned int lineLevel)
{
    gated_ = true;
    accessHigh_ = accessLevel != 0;
    setGateLevel(lineLevel);
}

void AuoChip::setGateLevel(unsigned int lineLevel)
{
    lineHigh_ = lineLevel != 0;
}

bool AuoChip::accessible() const
{
    return !gated_ || lineHigh_ == accessHigh_;
}

// A write phase: register pointer, then data bytes to successive registers.
int AuoChip::write(const std::uint8_t* bytes, std::size_t count)
{
    if (!accessible()) return kAddressNack;
    if (count == 0) return 0;
    if (bytes[0] != kRegCommand && bytes[0] != kRegSetting) return kDataNack;
    pointer_ = bytes[0];
    for (std::size_t i = 1; i < count; ++i, ++pointer_) {
        if (const int status = store(pointer_, bytes[i])) return status;
    }
    return 0;
}

int AuoChip::read(std::uint8_t* out, std::size_t count)
{
    if (!accessible()) return kAddressNack;
    for (std::size_t i = 0; i < count; ++i, ++pointer_) {
        if (const int status = load(pointer_, &out[i])) return status;
    }
    return 0;
}

int AuoChip::store(std::uint8_t reg, std::uint8_t value)
{
    switch (reg) {
    case kRegSetting:
        setting_ = value;
        return 0;
    case kRegCommand:
        if (value != kCommandSave) return kDataNack;
        nvm_ = setting_;
        ++saves_;
        return 0;
    default:
        return kDataNack;
    }
}

int AuoChip::load(std::uint8_t reg, std::uint8_t* value) const
{
    if (reg != kRegSetting) return kDataNack;
    *value = setting_;
    return 0;
}

void AuoChip::powerCycle()
{
    setting_ = nvm_;
    pointer_ = kRegCommand;
}

namespace detail {

// Both chips take the same registers; only the AUO is wired to its gate line,
// which rests at the level opposite to the access level.
Panel makeAuoPanel(Board& board, const PanelConfig& config)
{
    auto chip = std::make_shared<AuoChip>();
    board.attach(config.bus, config.vcomAddr, chip);
    if (config.chip == ChipType::AUO) {
        const unsigned int gate = config.gpioAddr;
        if (!board.gpioLevel(gate)) board.addGpio(gate, config.gpioStatus == 0 ? 1 : 0);
        chip->useGate(config.gpioStatus, *board.gpioLevel(gate));
        std::weak_ptr<AuoChip> weak = chip;
        board.onGpioChange([weak, gate](unsigned int gpio, unsigned int level) {
            if (gpio != gate) return;
            if (const std::shared_ptr<AuoChip> model = weak.lock()) model->setGateLevel(level);
        });
    }
    return Panel{chip, nullptr};
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
