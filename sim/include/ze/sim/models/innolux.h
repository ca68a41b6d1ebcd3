#pragma once
// The Innolux VCOM chips, IN525 and IN518, and the pass-through bridge in
// front of them. Until the bridge has passed traffic for kSettleUs a chip
// does not answer its address (address NACK).
//
// A chip takes VCOM data only after its unlock (two codes, then the reset
// command), and one data write per unlock: every attempt needs a fresh
// unlock. It checks the data's CRC and reports the outcome through its status
// register. The IN525 takes only a block read back from it since the unlock,
// its carried-over bytes unchanged. The reset, the data write, MTP
// programming and the lock each keep the chip busy (not answering) for the
// time the driver waits after them.
//
// Failure rehearsal: scriptStatus makes a chip answer chosen status bytes
// (0x95 / 0x5D: write again; 0x9D / 0x65: program and write again), and
// InnoluxBridge::scriptStatus chosen pass-through status pairs. A device that
// stops answering altogether: Board::setAnswering.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <ze/sim/device.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {

class ZE_SIM_EXPORT InnoluxBridge : public I2cDevice {
public:
    // 0xE7: pass-through command EA 10 01 (open) or EA 10 00 (close). Nothing
    // else is taken and nothing can be read.
    static constexpr std::uint8_t kRegPassThrough = 0xE7;
    static constexpr std::uint8_t kCommand0 = 0xEA;
    static constexpr std::uint8_t kCommand1 = 0x10;
    static constexpr std::uint8_t kOpen = 0x01;
    static constexpr std::uint8_t kClose = 0x00;
    // What a chip's pass-through status register reads while open.
    using Status = std::array<std::uint8_t, 2>;
    static constexpr Status kStatusOpen = {0x05, 0x25};
    // From the open command until traffic passes.
    static constexpr std::uint64_t kSettleUs = 20000;

    bool isOpen() const { return open_; }
    // Why traffic to the chips does not pass now; nullptr when it does.
    const char* blockedReason() const;
    unsigned int openCount() const { return opens_; }
    // The next pass-through status reads answer these pairs, one per read;
    // then kStatusOpen again.
    void scriptStatus(std::vector<Status> answers);
    // One status read, as a chip behind the bridge answers it.
    Status takeStatus();

    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* out, std::size_t count) override;
    void powerCycle() override;  // closed

private:
    bool open_ = false;
    std::uint64_t openedUs_ = 0;
    unsigned int opens_ = 0;
    std::deque<Status> script_;
};

// What both chips share: the gate, the unlock, the status, MTP programming
// and the lock. Registers of the unlock and the commands are per chip.
class ZE_SIM_EXPORT InnoluxChip : public I2cDevice, public VcomModel {
public:
    static constexpr std::uint8_t kUnlockCode1 = 0xB7;
    static constexpr std::uint8_t kUnlockCode2 = 0xF6;
    // Reset, program and lock commands.
    static constexpr std::uint8_t kCommand = 0x80;
    // Status after VCOM data the chip took.
    static constexpr std::uint8_t kStatusTaken = 0x00;

    bool isUnlocked() const { return unlocked_; }
    std::uint8_t status() const { return status_; }
    // MTP programming cycles and lock commands since construction.
    unsigned int programCount() const { return programs_; }
    unsigned int lockCount() const { return locks_; }
    // The next status reads answer these bytes, one per read; then the chip's
    // own status. Only the answer is scripted: data is taken or refused as usual.
    void scriptStatus(std::vector<std::uint8_t> statuses);

    int write(const std::uint8_t* bytes, std::size_t count) final;
    int read(std::uint8_t* out, std::size_t count) final;
    void powerCycle() override;
    void dump(ModelFields& fields) const final;

protected:
    // A chip's command registers and how long each command keeps it busy,
    // from the chip's own constants of the same names.
    struct Profile {
        std::uint8_t unlock1;
        std::uint8_t unlock2;
        std::uint8_t reset;
        std::uint8_t status;  // may be the reset register: other values than kCommand are status
        std::uint8_t program;
        std::uint8_t lock;
        std::uint64_t resetUs;
        std::uint64_t dataUs;
        std::uint64_t programUs;
        std::uint64_t lockUs;
    };
    template <class Chip>
    static constexpr Profile profileOf()
    {
        return {Chip::kRegUnlock1, Chip::kRegUnlock2, Chip::kRegReset, Chip::kRegStatus,
                Chip::kRegProgram, Chip::kRegLock,    Chip::kResetUs,  Chip::kDataUs,
                Chip::kProgramUs,  Chip::kLockUs};
    }
    InnoluxChip(std::shared_ptr<InnoluxBridge> bridge, const Profile& profile);

    // The chip's data registers: kDataNack for what they do not take. A data
    // write runs only while unlocked, once per unlock.
    virtual int writeData(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count) = 0;
    virtual int readData(std::uint8_t reg, std::uint8_t* out, std::size_t count) = 0;
    // Registers to NVM, and back.
    virtual void program() = 0;
    virtual void reload() = 0;
    virtual void onUnlock() {}
    // The chip's data registers and NVM, ahead of what both chips share.
    virtual void dumpData(ModelFields& fields) const = 0;

    void setStatus(std::uint8_t status) { status_ = status; }
    InnoluxBridge& bridge() { return *bridge_; }
    // CRC-8 0x69 from 0xD2 over the data, each byte preceded by a zero byte:
    // the check both chips apply to their VCOM data.
    static std::uint8_t dataCrc(const std::uint8_t* data, std::size_t count);

private:
    int command(std::uint8_t reg, std::uint8_t value);

    int data(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count);

    std::shared_ptr<InnoluxBridge> bridge_;
    Profile profile_;
    std::uint8_t pointer_ = 0;
    unsigned int unlockStage_ = 0;  // codes seen in order
    bool unlocked_ = false;
    bool dataWritten_ = false;  // since the unlock
    std::uint8_t status_ = kStatusTaken;
    std::deque<std::uint8_t> script_;
    unsigned int programs_ = 0;
    unsigned int locks_ = 0;
};

class ZE_SIM_EXPORT In525Chip : public InnoluxChip {
public:
    // 0x35: VCOM select (read; set with setVcomSelect). 1: VCOM2 follows VCOM1.
    static constexpr std::uint8_t kRegVcomSelect = 0x35;
    static constexpr std::uint8_t kRegUnlock1 = 0x38;
    static constexpr std::uint8_t kRegUnlock2 = 0x39;
    // 0x3A..0x41: VCOM block, read in any part, written whole; byte 3 VCOM1,
    // byte 6 VCOM2, byte 7 the CRC of bytes 0..6.
    static constexpr std::uint8_t kRegBlock = 0x3A;
    static constexpr std::size_t kBlockSize = 8;
    static constexpr std::uint8_t kRegVcom1 = 0x3D;
    static constexpr std::uint8_t kRegProgram = 0x46;  // block -> NVM
    static constexpr std::uint8_t kRegLock = 0x48;
    static constexpr std::uint8_t kRegReset = 0x49;
    // 0x4A: status (read / write back).
    static constexpr std::uint8_t kRegStatus = 0x4A;
    // 0xF0, 0xF1: pass-through status, answered by the bridge.
    static constexpr std::uint8_t kRegPassStatus = 0xF0;

    // A block with a wrong CRC is not taken and leaves this status, the one
    // that asks for the block again.
    static constexpr std::uint8_t kStatusWriteAgain = 0x95;
    // Asks to program and write again; only ever scripted.
    static constexpr std::uint8_t kStatusProgramAgain = 0x9D;

    using Block = std::array<std::uint8_t, kBlockSize>;
    using BlockData = std::array<std::uint8_t, kBlockSize - 1>;
    static constexpr BlockData kFactoryData = {0x5A, 0x01, 0x20, 0x80, 0x33, 0x10, 0x90};
    static constexpr std::size_t kVcom1Byte = 3;
    static constexpr std::size_t kVcom2Byte = 6;

    static constexpr std::uint64_t kResetUs = 70000;
    static constexpr std::uint64_t kDataUs = 70000;  // a block
    static constexpr std::uint64_t kProgramUs = 500000;
    static constexpr std::uint64_t kLockUs = 20000;

    explicit In525Chip(std::shared_ptr<InnoluxBridge> bridge);

    const Block& block() const { return block_; }
    const Block& nvmBlock() const { return nvm_; }
    // As programmed at the factory: NVM and registers, with the CRC appended.
    void setNvmBlock(const BlockData& data);
    std::uint8_t vcomSelect() const { return select_; }
    void setVcomSelect(std::uint8_t select) { select_ = select; }
    static std::uint8_t blockCrc(const BlockData& data);

    unsigned int heldValue() const override { return block_[kVcom1Byte]; }
    ModelState state() const override;
    bool restore(const ModelState& state) override;

protected:
    int writeData(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count) override;
    int readData(std::uint8_t reg, std::uint8_t* out, std::size_t count) override;
    void program() override { nvm_ = block_; }
    void reload() override { block_ = nvm_; }
    void onUnlock() override { blockRead_ = false; }
    void dumpData(ModelFields& fields) const override;

private:
    Block block_{};
    Block nvm_{};
    std::uint8_t select_ = 1;
    bool blockRead_ = false;  // whole, since the unlock
};

class ZE_SIM_EXPORT In518Chip : public InnoluxChip {
public:
    static constexpr std::uint8_t kRegUnlock1 = 0x2F;
    static constexpr std::uint8_t kRegUnlock2 = 0x30;
    // 0x31..0x35: VCOM record 01 89 57 v crc, written whole, never read; the
    // CRC is that of the first four bytes.
    static constexpr std::uint8_t kRegRecord = 0x31;
    static constexpr std::size_t kRecordSize = 5;
    static constexpr std::array<std::uint8_t, 3> kRecordHeader = {0x01, 0x89, 0x57};
    // 0x34: VCOM (read).
    static constexpr std::uint8_t kRegVcom = 0x34;
    static constexpr std::uint8_t kRegProgram = 0x3A;  // VCOM -> NVM
    static constexpr std::uint8_t kRegLock = 0x3C;
    // 0x3D: reset command (kCommand) or status write-back; status read.
    static constexpr std::uint8_t kRegReset = 0x3D;
    static constexpr std::uint8_t kRegStatus = kRegReset;

    // A record with a wrong header or CRC is not taken and leaves this status.
    static constexpr std::uint8_t kStatusWriteAgain = 0x5D;
    // Asks to program and write again; only ever scripted.
    static constexpr std::uint8_t kStatusProgramAgain = 0x65;

    static constexpr std::uint8_t kFactoryVcom = 0x80;

    static constexpr std::uint64_t kResetUs = 70000;
    static constexpr std::uint64_t kDataUs = 20000;  // a record
    static constexpr std::uint64_t kProgramUs = 260000;
    static constexpr std::uint64_t kLockUs = 20000;

    explicit In518Chip(std::shared_ptr<InnoluxBridge> bridge);

    std::uint8_t vcom() const { return vcom_; }
    std::uint8_t nvmVcom() const { return nvm_; }
    // As programmed at the factory: NVM and register.
    void setNvmVcom(std::uint8_t vcom) { vcom_ = nvm_ = vcom; }
    static std::uint8_t recordCrc(std::uint8_t vcom);

    unsigned int heldValue() const override { return vcom_; }
    ModelState state() const override;
    bool restore(const ModelState& state) override;

protected:
    int writeData(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count) override;
    int readData(std::uint8_t reg, std::uint8_t* out, std::size_t count) override;
    void program() override { nvm_ = vcom_; }
    void reload() override { vcom_ = nvm_; }
    void dumpData(ModelFields& fields) const override;

private:
    std::uint8_t vcom_ = kFactoryVcom;
    std::uint8_t nvm_ = kFactoryVcom;
};

}  // namespace sim
}  // namespace ze
