#include <ze/sim/models/g1625.h>

#include "install.h"
#include "state_io.h"

namespace ze {
namespace sim {

G1625::G1625(std::uint8_t nvmSetting) : nvm_(nvmSetting), setting_(nvmSetting) {}

int G1625::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count != 1) return refuse(kDataNack, "not a one-byte command");
    setting_ = static_cast<std::uint8_t>(bytes[0] >> kSettingShift);
    if ((bytes[0] & kSetFlag) == 0) {
        nvm_ = setting_;
        ++nvmWrites_;
        startBusy(kProgramUs, "programming NVM");
    }
    return 0;
}

int G1625::read(std::uint8_t* out, std::size_t count)
{
    if (count != 1) return refuse(kDataNack, "not a one-byte status read");
    out[0] = static_cast<std::uint8_t>((setting_ << kSettingShift) |
                                       (setting_ != nvm_ ? kUnsavedFlag : 0));
    return 0;
}

void G1625::powerCycle()
{
    setting_ = nvm_;
}

ModelState G1625::state() const
{
    return {{"setting", {setting_}}, {"nvm", {nvm_}}};
}

bool G1625::restore(const ModelState& state)
{
    if (!detail::fits<1>(state, "setting") || !detail::fits<1>(state, "nvm")) return false;
    setting_ = state.at("setting")[0];
    nvm_ = state.at("nvm")[0];
    return true;
}

void G1625::dump(ModelFields& fields) const
{
    fields.hex("setting", setting()).hex("nvm", nvmSetting()).count("nvm_writes", nvmWrites());
}

namespace {
// Seven bits: the command byte's bit 0 is the volatile-only flag.
constexpr std::uint16_t kSettingMax = 0x7F;
const ChipModelRegistration kG1625({"g1625", installChip<G1625>, false, true, kSettingMax, 0});
}  // namespace

}  // namespace sim
}  // namespace ze
