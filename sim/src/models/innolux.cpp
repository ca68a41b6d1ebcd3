#include <ze/sim/models/innolux.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "install.h"
#include "state_io.h"

namespace ze {
namespace sim {
namespace {

// CRC-8 x^8 + x^6 + x^5 + x^3 + 1, MSB first, no final XOR.
constexpr std::uint8_t kCrcPolynomial = 0x69;
constexpr std::uint8_t kCrcInit = 0xD2;
constexpr std::uint8_t kCrcTopBit = 0x80;
constexpr int kBitsPerByte = 8;

std::uint8_t crcUpdate(std::uint8_t crc, std::uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < kBitsPerByte; ++bit) {
        crc =
            static_cast<std::uint8_t>((crc & kCrcTopBit) ? (crc << 1) ^ kCrcPolynomial : crc << 1);
    }
    return crc;
}

}  // namespace

// Bridge.

void InnoluxBridge::scriptStatus(std::vector<Status> answers)
{
    script_.assign(answers.begin(), answers.end());
}

InnoluxBridge::Status InnoluxBridge::takeStatus()
{
    if (script_.empty()) return kStatusOpen;
    const Status answer = script_.front();
    script_.pop_front();
    return answer;
}

const char* InnoluxBridge::blockedReason() const
{
    if (!open_) return "pass-through off";
    if (nowUs() - openedUs_ < kSettleUs) return "pass-through settling";
    return nullptr;
}

int InnoluxBridge::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) return 0;
    const bool command =
        count == 4 && bytes[0] == kRegPassThrough && bytes[1] == kCommand0 && bytes[2] == kCommand1;
    if (command && bytes[3] == kOpen) {
        // Opening an open bridge does not interrupt the traffic.
        if (!open_) openedUs_ = nowUs();
        open_ = true;
        ++opens_;
        return 0;
    }
    if (command && bytes[3] == kClose) {
        open_ = false;
        return 0;
    }
    return refuse(kDataNack, "not a pass-through command");
}

int InnoluxBridge::read(std::uint8_t*, std::size_t)
{
    return refuse(kDataNack, "the bridge has nothing to read");
}

void InnoluxBridge::powerCycle()
{
    open_ = false;
}

// Both chips.

InnoluxChip::InnoluxChip(std::shared_ptr<InnoluxBridge> bridge, const Profile& profile)
    : bridge_(std::move(bridge)), profile_(profile)
{
    if (!bridge_) throw std::invalid_argument("sim innolux: a chip needs its bridge");
}

void InnoluxChip::scriptStatus(std::vector<std::uint8_t> statuses)
{
    script_.assign(statuses.begin(), statuses.end());
}

std::uint8_t InnoluxChip::dataCrc(const std::uint8_t* data, std::size_t count)
{
    std::uint8_t crc = kCrcInit;
    for (std::size_t i = 0; i < count; ++i) crc = crcUpdate(crcUpdate(crc, 0), data[i]);
    return crc;
}

// A write phase: register pointer, then the data. Single-byte registers take
// exactly one byte; the data registers are the chip's own.
int InnoluxChip::write(const std::uint8_t* bytes, std::size_t count)
{
    if (const char* blocked = bridge_->blockedReason()) return refuse(kAddressNack, blocked);
    if (count == 0) return 0;
    const std::uint8_t reg = bytes[0];
    pointer_ = reg;
    if (count == 1) return 0;
    const bool single = reg == profile_.unlock1 || reg == profile_.unlock2 ||
                        reg == profile_.reset || reg == profile_.status ||
                        reg == profile_.program || reg == profile_.lock;
    int status = 0;
    if (!single) {
        status = data(reg, bytes + 1, count - 1);
    } else if (count != 2) {
        status = refuse(kDataNack, "a command register takes one byte");
    } else {
        status = command(reg, bytes[1]);
    }
    if (status == 0) pointer_ = static_cast<std::uint8_t>(reg + count - 1);
    return status;
}

int InnoluxChip::data(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count)
{
    if (!unlocked_) return refuse(kDataNack, "data written while locked");
    if (dataWritten_) return refuse(kDataNack, "second data write without a fresh unlock");
    const int status = writeData(reg, bytes, count);
    if (status == 0) {
        dataWritten_ = true;
        startBusy(profile_.dataUs, "checking the data written");
    }
    return status;
}

int InnoluxChip::read(std::uint8_t* out, std::size_t count)
{
    if (const char* blocked = bridge_->blockedReason()) return refuse(kAddressNack, blocked);
    int status = kDataNack;
    if (pointer_ == profile_.status && count == 1) {
        out[0] = status_;
        if (!script_.empty()) {
            out[0] = script_.front();
            script_.pop_front();
        }
        status = 0;
    } else {
        status = readData(pointer_, out, count);
    }
    if (status == 0) pointer_ = static_cast<std::uint8_t>(pointer_ + count);
    return status;
}

int InnoluxChip::command(std::uint8_t reg, std::uint8_t value)
{
    // The codes count only in order and immediately before the reset command;
    // a reset without them locks.
    if (reg == profile_.unlock1) {
        unlockStage_ = value == kUnlockCode1 ? 1 : 0;
        return 0;
    }
    if (reg == profile_.unlock2) {
        unlockStage_ = unlockStage_ == 1 && value == kUnlockCode2 ? 2 : 0;
        return 0;
    }
    if (reg == profile_.reset && value == kCommand) {
        unlocked_ = unlockStage_ == 2;
        unlockStage_ = 0;
        dataWritten_ = false;
        onUnlock();
        startBusy(profile_.resetUs, "resetting");
        return 0;
    }
    if (reg == profile_.status) {
        status_ = value;
        return 0;
    }
    if (reg == profile_.program && value == kCommand) {
        if (!unlocked_) return refuse(kDataNack, "MTP programming while locked");
        program();
        ++programs_;
        startBusy(profile_.programUs, "programming MTP");
        return 0;
    }
    if (reg == profile_.lock && value == kCommand) {
        unlocked_ = false;
        ++locks_;
        startBusy(profile_.lockUs, "locking");
        return 0;
    }
    return refuse(kDataNack, "unknown command");
}

void InnoluxChip::powerCycle()
{
    pointer_ = 0;
    unlockStage_ = 0;
    unlocked_ = false;
    dataWritten_ = false;
    status_ = kStatusTaken;
    reload();
}

// IN525.

In525Chip::In525Chip(std::shared_ptr<InnoluxBridge> bridge)
    : InnoluxChip(std::move(bridge), profileOf<In525Chip>())
{
    setNvmBlock(kFactoryData);
}

void In525Chip::setNvmBlock(const BlockData& data)
{
    std::copy(data.begin(), data.end(), nvm_.begin());
    nvm_[kBlockSize - 1] = blockCrc(data);
    block_ = nvm_;
}

std::uint8_t In525Chip::blockCrc(const BlockData& data)
{
    return dataCrc(data.data(), data.size());
}

ModelState In525Chip::state() const
{
    return {
        {"block", detail::bytesOf(block_)}, {"nvm", detail::bytesOf(nvm_)}, {"select", {select_}}};
}

bool In525Chip::restore(const ModelState& state)
{
    if (!detail::fits<kBlockSize>(state, "block") || !detail::fits<kBlockSize>(state, "nvm") ||
        !detail::fits<1>(state, "select")) {
        return false;
    }
    detail::take(state, "block", &block_);
    detail::take(state, "nvm", &nvm_);
    select_ = state.at("select")[0];
    return true;
}

int In525Chip::writeData(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count)
{
    if (reg != kRegBlock || count != kBlockSize) return refuse(kDataNack, "not the whole block");
    if (!blockRead_) return refuse(kDataNack, "block not read back since the unlock");
    // Only VCOM1, VCOM2 and the CRC are the writer's; the rest must come from the chip.
    for (std::size_t i = 0; i < kBlockSize - 1; ++i) {
        if (i != kVcom1Byte && i != kVcom2Byte && bytes[i] != block_[i]) {
            return refuse(kDataNack, "block changed where it carries the chip's bytes");
        }
    }
    BlockData data;
    std::copy_n(bytes, data.size(), data.begin());
    if (bytes[kBlockSize - 1] != blockCrc(data)) {
        setStatus(kStatusWriteAgain);
        return 0;
    }
    std::copy_n(bytes, kBlockSize, block_.begin());
    setStatus(kStatusTaken);
    return 0;
}

int In525Chip::readData(std::uint8_t reg, std::uint8_t* out, std::size_t count)
{
    if (reg == kRegVcomSelect && count == 1) {
        out[0] = select_;
        return 0;
    }
    if (reg >= kRegBlock && count > 0 && reg - kRegBlock + count <= kBlockSize) {
        std::copy_n(block_.begin() + (reg - kRegBlock), count, out);
        if (count == kBlockSize) blockRead_ = true;
        return 0;
    }
    if (reg == kRegPassStatus && count == InnoluxBridge::kStatusOpen.size()) {
        const InnoluxBridge::Status status = bridge().takeStatus();
        std::copy(status.begin(), status.end(), out);
        return 0;
    }
    return refuse(kDataNack, "register not readable");
}

// IN518.

In518Chip::In518Chip(std::shared_ptr<InnoluxBridge> bridge)
    : InnoluxChip(std::move(bridge), profileOf<In518Chip>())
{
}

ModelState In518Chip::state() const
{
    return {{"vcom", {vcom_}}, {"nvm", {nvm_}}};
}

bool In518Chip::restore(const ModelState& state)
{
    if (!detail::fits<1>(state, "vcom") || !detail::fits<1>(state, "nvm")) return false;
    vcom_ = state.at("vcom")[0];
    nvm_ = state.at("nvm")[0];
    return true;
}

std::uint8_t In518Chip::recordCrc(std::uint8_t vcom)
{
    const std::uint8_t data[] = {kRecordHeader[0], kRecordHeader[1], kRecordHeader[2], vcom};
    return dataCrc(data, sizeof data);
}

int In518Chip::writeData(std::uint8_t reg, const std::uint8_t* bytes, std::size_t count)
{
    if (reg != kRegRecord || count != kRecordSize) return refuse(kDataNack, "not the whole record");
    const std::uint8_t vcom = bytes[kRecordHeader.size()];
    const bool valid = std::equal(kRecordHeader.begin(), kRecordHeader.end(), bytes) &&
                       bytes[kRecordSize - 1] == recordCrc(vcom);
    if (!valid) {
        setStatus(kStatusWriteAgain);
        return 0;
    }
    vcom_ = vcom;
    setStatus(kStatusTaken);
    return 0;
}

int In518Chip::readData(std::uint8_t reg, std::uint8_t* out, std::size_t count)
{
    if (reg != kRegVcom || count != 1) return refuse(kDataNack, "register not readable");
    out[0] = vcom_;
    return 0;
}

void InnoluxChip::dump(ModelFields& fields) const
{
    dumpData(fields);
    fields.hex("status", status())
        .flag("unlocked", isUnlocked())
        .count("programs", programCount())
        .count("locks", lockCount())
        .flag("bridge_open", bridge_->isOpen())
        .count("bridge_opens", bridge_->openCount());
}

void In525Chip::dumpData(ModelFields& fields) const
{
    fields.bytes("block", block_)
        .bytes("nvm", nvm_)
        .hex("vcom1", block_[kVcom1Byte])
        .hex("vcom2", block_[kVcom2Byte])
        .hex("nvm_vcom1", nvm_[kVcom1Byte])
        .hex("nvm_vcom2", nvm_[kVcom2Byte]);
}

void In518Chip::dumpData(ModelFields& fields) const
{
    fields.hex("vcom", vcom_).hex("nvm", nvm_);
}

namespace {

// Both chips sit behind the pass-through bridge; a chip that cannot be
// attached takes its bridge off the board again.
template <class Model>
void installBridged(Board& board, const VcomBoardConfig& config, Panel& panel)
{
    auto bridge = std::make_shared<InnoluxBridge>();
    board.attach(config.i2cBus, kInnoluxBridgeAddr, bridge);
    try {
        attachChip(board, config, panel, std::make_shared<Model>(bridge));
    } catch (...) {
        board.detach(config.i2cBus, kInnoluxBridgeAddr);
        throw;
    }
    panel.bridge = bridge;
}

const ChipModelRegistration kIn518({"in518", installBridged<In518Chip>, false, true, kByteCodeMax,
                                    0});
const ChipModelRegistration kIn525({"in525", installBridged<In525Chip>, false, true, kByteCodeMax,
                                    0});

}  // namespace

}  // namespace sim
}  // namespace ze
