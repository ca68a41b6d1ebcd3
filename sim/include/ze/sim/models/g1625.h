#pragma once
// G1625 VCOM chip: a 7-bit setting with an NVM copy, and no registers.
//
// Every write phase is one command byte:
//   bits 7..1  setting
//   bit 0      1: set the volatile setting only
//              0: store the setting to NVM (and set it)
// A read phase returns the status byte: the setting in bits 7..1 and, in
// bit 0, kUnsavedFlag while the setting differs from the NVM copy.
// The model refuses (kDataNack, nothing changed) a write phase of any length
// other than one byte, and a read phase of any length other than one byte.
// Storing to NVM takes kProgramUs, during which the part does not answer.
// NVM survives power cycles; the setting reloads from it.

#include <cstddef>
#include <cstdint>

#include <ze/sim/device.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT G1625 : public I2cDevice, public VcomModel {
public:
    static constexpr std::uint8_t kSettingShift = 1;
    static constexpr std::uint8_t kSetFlag = 0x01;      // command bit 0: volatile only
    static constexpr std::uint8_t kUnsavedFlag = 0x01;  // status bit 0
    // NVM contents as shipped.
    static constexpr std::uint8_t kFactorySetting = 0x40;
    static constexpr std::uint64_t kProgramUs = 550000;

    explicit G1625(std::uint8_t nvmSetting = kFactorySetting);

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;

    unsigned int heldValue() const override { return setting_; }

    void dump(ModelFields& fields) const override;
    ModelState state() const override;
    bool restore(const ModelState& state) override;

    std::uint8_t setting() const { return setting_; }
    std::uint8_t nvmSetting() const { return nvm_; }
    // NVM programming cycles so far.
    unsigned int nvmWrites() const { return nvmWrites_; }

private:
    std::uint8_t nvm_;
    std::uint8_t setting_;
    unsigned int nvmWrites_ = 0;
};

}  // namespace sim
}  // namespace ze
