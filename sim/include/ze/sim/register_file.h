#pragma once

#include <array>
#include <cstdint>

#include <ze/sim/device.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {

// 256 8-bit registers behind an auto-incrementing register pointer, wrapping
// at 0xFF. A write phase sets the pointer from its first byte and stores the
// rest; a read phase reads from the pointer on. An address-only write phase
// (a probe or the sub-address of a read) only moves the pointer.
//
// A chip model narrows the map through the hooks: checkWrite sees a whole
// write phase before any register changes (all-or-nothing parts), store and
// load see one byte each and may refuse it.
class ZE_SIM_EXPORT RegisterFile : public I2cDevice {
public:
    RegisterFile();

    int write(const std::uint8_t* bytes, std::size_t count) final;
    int read(std::uint8_t* out, std::size_t count) final;

    std::uint8_t reg(std::uint8_t address) const { return regs_[address]; }
    void setReg(std::uint8_t address, std::uint8_t value) { regs_[address] = value; }
    std::uint8_t pointer() const { return pointer_; }

protected:
    using Registers = std::array<std::uint8_t, 256>;

    virtual int checkWrite(std::uint8_t first, const std::uint8_t* data, std::size_t count);
    virtual int store(std::uint8_t address, std::uint8_t value);
    virtual int load(std::uint8_t address, std::uint8_t* value);

    Registers regs_{};
    std::uint8_t pointer_ = 0;
};

// A VCOM chip built on a register file whose setting registers, the range
// given at construction, have an NVM copy. Its state is "regs" and "nvm".
class ZE_SIM_EXPORT RegisterChip : public RegisterFile, public VcomModel {
public:
    ModelState state() const override;
    bool restore(const ModelState& state) override;
    // Reloads the setting registers from NVM and clears the pointer.
    void powerCycle() override;

protected:
    RegisterChip(std::uint8_t nvmFirst, std::uint8_t nvmCount);

    // The setting registers into NVM, and back.
    void programNvm();
    void reloadNvm();

    Registers nvm_{};

private:
    std::uint8_t nvmFirst_;
    std::uint8_t nvmCount_;
};

}  // namespace sim
}  // namespace ze
