#pragma once
// The AUO VCOM chip, and the KD532P that shares its registers.
//
//   0x00  command  write only; 0x0A stores the setting in NVM
//   0x01  setting  read / write, 0..255
//
// Refused with kDataNack: an address or a byte beyond 0x00..0x01, a command
// other than 0x0A, and a read of the command register. While the part
// programs its NVM it ignores its address; the programming takes effect only
// if the gate stays open (AUO) and power stays on for the whole window.
//
// The AUO sits behind an access gate: it answers only while its gate line is
// at the access level (non-zero levels count alike) and kGateSettleUs have
// passed since the line got there. The KD532P has no gate.

#include <cstddef>
#include <cstdint>

#include <ze/sim/register_file.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT AuoChip : public RegisterChip {
public:
    static constexpr std::uint8_t kRegCommand = 0x00;
    static constexpr std::uint8_t kCommandSave = 0x0A;
    static constexpr std::uint8_t kRegSetting = 0x01;

    static constexpr std::uint8_t kFactorySetting = 0x80;
    // NVM programming: the AUO's gate hold, the KD532P's wait after the command.
    static constexpr std::uint64_t kAuoProgramUs = 60000;
    static constexpr std::uint64_t kKd532pProgramUs = 500000;
    static constexpr std::uint64_t kGateSettleUs = 5000;

    // Ungated: always answers.
    explicit AuoChip(std::uint64_t programUs = kAuoProgramUs);

    // Gated from now on: answers only while (line level != 0) == (accessLevel != 0).
    void useGate(std::uint32_t accessLevel, unsigned int lineLevel);
    void setGateLevel(unsigned int lineLevel);
    bool accessible() const;

    std::uint8_t setting() const { return regs_[kRegSetting]; }
    void setSetting(std::uint8_t setting) { regs_[kRegSetting] = setting; }
    std::uint8_t nvm() const { return nvm_[kRegSetting]; }
    void setNvm(std::uint8_t value) { nvm_[kRegSetting] = value; }
    // Save commands accepted since construction.
    unsigned int saveCount() const { return saves_; }

    unsigned int heldValue() const override { return setting(); }

    void dump(ModelFields& fields) const override;
    void powerCycle() override;

protected:
    int checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count) override;
    int store(std::uint8_t address, std::uint8_t value) override;
    int load(std::uint8_t address, std::uint8_t* value) override;

private:
    // A programming cut short leaves the NVM as it was.
    void abortProgramming();

    std::uint64_t programUs_;
    bool gated_ = false;
    bool accessHigh_ = false;
    bool lineHigh_ = false;
    bool programming_ = false;
    std::uint8_t nvmBefore_ = kFactorySetting;
    unsigned int saves_ = 0;
};

}  // namespace sim
}  // namespace ze
