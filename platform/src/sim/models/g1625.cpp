#include <ze/sim/models/g1625.h>

#include <memory>

#include "factories.h"

namespace ze {
namespace sim {

G1625::G1625(std::uint8_t nvmSetting) : nvm_(nvmSetting), setting_(nvmSetting) {}

int G1625::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count != 1) return kDataNack;
    setting_ = static_cast<std::uint8_t>(bytes[0] >> kSettingShift);
    if ((bytes[0] & kSetFlag) == 0) {
        nvm_ = setting_;
        ++nvmWrites_;
    }
    return 0;
}

int G1625::read(std::uint8_t* out, std::size_t count)
{
    if (count != 1) return kDataNack;
    out[0] = static_cast<std::uint8_t>((setting_ << kSettingShift) |
                                       (setting_ != nvm_ ? kUnsavedFlag : 0));
    return 0;
}

void G1625::powerCycle()
{
    setting_ = nvm_;
}

namespace detail {

Panel makeG1625Panel(Board& board, const PanelConfig& config)
{
    auto chip = std::make_shared<G1625>();
    board.attach(config.bus, config.vcomAddr, chip);
    return Panel{chip, nullptr};
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
