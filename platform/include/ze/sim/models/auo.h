#pragma once
// The AUO VCOM chip, and the KD532P that shares its registers.
//
//   0x00  command  write only; 0x0A stores the setting in NVM
//   0x01  setting  read / write, 0..255
//
// A write phase starts with the register address; its data bytes go to
// consecutive registers. A read phase reads on from the register last
// addressed. Refused with kDataNack: an address or a byte beyond 0x00..0x01,
// a command other than 0x0A, and a read of the command register. The AUO sits
// behind an access gate: while its gate line is away from the access level it
// NACKs its address (kAddressNack). The KD532P has no gate. A power cycle
// reloads the setting from NVM.

#include <cstddef>
#include <cstdint>

#include <ze/sim/device.h>

namespace ze {
namespace sim {

class ZE_PLATFORM_EXPORT AuoChip : public I2cDevice {
public:
    static constexpr std::uint8_t kRegCommand = 0x00;
    static constexpr std::uint8_t kCommandSave = 0x0A;
    static constexpr std::uint8_t kRegSetting = 0x01;

    static constexpr std::uint8_t kFactorySetting = 0x80;

    // Ungated: always answers.
    AuoChip();

    // Gated from now on: answers only while (line level != 0) == (accessLevel != 0).
    void useGate(std::uint32_t accessLevel, unsigned int lineLevel);
    void setGateLevel(unsigned int lineLevel);
    bool accessible() const;

    std::uint8_t setting() const { return setting_; }
    void setSetting(std::uint8_t setting) { setting_ = setting; }
    std::uint8_t nvm() const { return nvm_; }
    void setNvm(std::uint8_t value) { nvm_ = value; }
    // Save commands accepted since construction.
    unsigned int saveCount() const { return saves_; }

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;

private:
    int store(std::uint8_t reg, std::uint8_t value);
    int load(std::uint8_t reg, std::uint8_t* value) const;

    bool gated_ = false;
    bool accessHigh_ = false;
    bool lineHigh_ = false;
    std::uint8_t pointer_ = kRegCommand;
    std::uint8_t setting_ = kFactorySetting;
    std::uint8_t nvm_ = kFactorySetting;
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
