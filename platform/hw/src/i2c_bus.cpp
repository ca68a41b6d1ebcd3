#include "i2c_bus.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log.h"

namespace ze {
namespace platform {
namespace hw {
namespace {

constexpr const char* kNodePrefix = "/dev/i2c-";
// i2c-dev refuses longer I2C_RDWR messages.
constexpr unsigned int kMaxMessageLength = 8192;
constexpr int kNoDevice = -1;
constexpr const char* kRdwr = "I2C_RDWR";

const char* openHint(int status)
{
    switch (-status) {
        case ENOENT:
            return "is i2c-dev loaded (modprobe i2c-dev) and does this bus exist?";
        case ENODEV:
        case ENXIO:
            return "no I2C adapter has this bus number";
        case EACCES:
        case EPERM:
            return "no permission: run as root or grant access to the node";
        default:
            return "is this an i2c-dev node?";
    }
}

const char* transferHint(int status)
{
    switch (-status) {
        case ENXIO:
        case ENODEV:
        case EREMOTEIO:
            return "no device answers at this address";
        case EIO:
            return "the device refused a byte or the bus failed";
        case ETIMEDOUT:
            return "the bus timed out: is SDA or SCL held low?";
        case EAGAIN:
            return "arbitration lost: another master drives the bus";
        case EBUSY:
            return "a kernel driver owns this address: unbind it or use that driver";
        case EOPNOTSUPP:
            return "the adapter refused this transaction";
        case EPROTO:
        case EBADMSG:
            return "the device broke the SMBus protocol";
        default:
            return "check the device's power and wiring";
    }
}

}  // namespace

struct I2cBus::Transfer {
    bool read;
    const I2cTarget& target;
    const std::uint8_t* out;  // write: the bytes after the sub-address
    std::uint8_t* in;         // read: where the bytes go
    unsigned int length;

    // i2c-dev takes 7-bit addresses; the read/write bit of the 8-bit form is ignored.
    std::uint16_t address() const { return static_cast<std::uint16_t>(target.devAddr >> 1); }
    bool hasSubAddress() const { return target.subAddrLen == 1; }
};

I2cBus::I2cBus(SystemCalls& calls, unsigned int number)
    : calls_(calls), number_(number), path_(kNodePrefix + std::to_string(number))
{
}

I2cBus::~I2cBus()
{
    if (fd_ >= 0) calls_.close(fd_);
}

int I2cBus::open()
{
    if (fd_ >= 0) return 0;
    const int fd = calls_.open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        ZE_LOG_ERROR("%s: cannot open I2C bus %u: %s (%s)", path_.c_str(), number_,
                     std::strerror(-fd), openHint(fd));
        return fd;
    }
    unsigned long functions = 0;
    const int status = calls_.ioctl(fd, I2C_FUNCS, &functions);
    if (status < 0) {
        ZE_LOG_ERROR("%s: cannot read what the adapter supports (I2C_FUNCS): %s (%s)",
                     path_.c_str(), std::strerror(-status), openHint(status));
        calls_.close(fd);
        return status;
    }
    fd_ = fd;
    functions_ = functions;
    selected_ = kNoDevice;
    return 0;
}

int I2cBus::write(const I2cTarget& target, const std::uint8_t* data, unsigned int length)
{
    return transfer(Transfer{false, target, data, nullptr, length});
}

int I2cBus::read(const I2cTarget& target, std::uint8_t* buffer, unsigned int length)
{
    return transfer(Transfer{true, target, nullptr, buffer, length});
}

int I2cBus::transfer(const Transfer& t)
{
    transaction_ = "";
    if (t.target.subAddrLen > 1) return fail(t, -EINVAL, "sub-addresses are 0 or 1 byte");
    if (t.length == 0 && (t.read || !t.hasSubAddress())) {
        return fail(t, -EINVAL, "nothing to transfer");
    }
    if (const int status = open()) return fail(t, status, "the bus did not open");
    if (const int status = selectDevice(t)) return status;
    return supports(I2C_FUNC_I2C) ? transferI2c(t) : transferSmbus(t);
}

// I2C_SLAVE rather than I2C_SLAVE_FORCE: a device bound to a kernel driver
// is left to that driver. Checked on the I2C_RDWR path too, which would
// otherwise bypass the check, so that both kinds of adapter refuse alike.
int I2cBus::selectDevice(const Transfer& t)
{
    if (selected_ == t.address()) return 0;
    // I2C_SLAVE takes the address itself, not a pointer to it.
    void* const address = reinterpret_cast<void*>(static_cast<std::uintptr_t>(t.address()));
    const int status = calls_.ioctl(fd_, I2C_SLAVE, address);
    // On failure the node keeps the address it had.
    if (status < 0) return fail(t, status, transferHint(status));
    selected_ = t.address();
    return 0;
}

int I2cBus::transferI2c(const Transfer& t)
{
    std::uint8_t subAddress = t.target.subAddr;
    std::vector<std::uint8_t> written;
    i2c_msg messages[2] = {};
    std::uint32_t count = 0;
    if (t.read) {
        if (t.length > kMaxMessageLength) {
            return fail(t, -EINVAL, "longer than the 8192 bytes i2c-dev passes in one message");
        }
        if (t.hasSubAddress()) messages[count++] = {t.address(), 0, 1, &subAddress};
        messages[count++] = {t.address(), I2C_M_RD, static_cast<std::uint16_t>(t.length), t.in};
    } else {
        if (t.hasSubAddress()) written.push_back(subAddress);
        written.insert(written.end(), t.out, t.out + t.length);
        if (written.size() > kMaxMessageLength) {
            return fail(t, -EINVAL, "longer than the 8192 bytes i2c-dev passes in one message");
        }
        messages[count++] = {t.address(), 0, static_cast<std::uint16_t>(written.size()),
                             written.data()};
    }
    i2c_rdwr_ioctl_data request = {messages, count};
    transaction_ = kRdwr;
    const int done = calls_.ioctl(fd_, I2C_RDWR, &request);
    if (done < 0) return fail(t, done, transferHint(done));
    if (static_cast<std::uint32_t>(done) != count) {
        return fail(t, -EIO, "the adapter completed only part of the transfer");
    }
    return 0;
}

int I2cBus::transferSmbus(const Transfer& t)
{
    return t.read ? smbusRead(t) : smbusWrite(t);
}

int I2cBus::smbusRead(const Transfer& t)
{
    i2c_smbus_data data = {};
    if (!t.hasSubAddress()) {
        if (t.length != 1) {
            return fail(t, -EINVAL,
                        "adapter lacks I2C_RDWR; without a sub-address SMBus reads one byte");
        }
        const int status = smbusAccess(t, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data,
                                       I2C_FUNC_SMBUS_READ_BYTE, "smbus-read-byte");
        if (status == 0) t.in[0] = data.byte;
        return status;
    }
    const std::uint8_t command = t.target.subAddr;
    if (t.length == 1) {
        const int status = smbusAccess(t, I2C_SMBUS_READ, command, I2C_SMBUS_BYTE_DATA, &data,
                                       I2C_FUNC_SMBUS_READ_BYTE_DATA, "smbus-read-byte-data");
        if (status == 0) t.in[0] = data.byte;
        return status;
    }
    // A word read puts the same bytes on the wire as a 2-byte block read, low byte first.
    if (t.length == 2 && !supports(I2C_FUNC_SMBUS_READ_I2C_BLOCK) &&
        supports(I2C_FUNC_SMBUS_READ_WORD_DATA)) {
        const int status = smbusAccess(t, I2C_SMBUS_READ, command, I2C_SMBUS_WORD_DATA, &data,
                                       I2C_FUNC_SMBUS_READ_WORD_DATA, "smbus-read-word-data");
        if (status == 0) {
            t.in[0] = static_cast<std::uint8_t>(data.word & 0xFFu);
            t.in[1] = static_cast<std::uint8_t>(data.word >> 8);
        }
        return status;
    }
    if (t.length > I2C_SMBUS_BLOCK_MAX) {
        return fail(t, -EINVAL, "adapter lacks I2C_RDWR; SMBus block reads carry 32 bytes at most");
    }
    data.block[0] = static_cast<std::uint8_t>(t.length);
    const int status = smbusAccess(t, I2C_SMBUS_READ, command, I2C_SMBUS_I2C_BLOCK_DATA, &data,
                                   I2C_FUNC_SMBUS_READ_I2C_BLOCK, "smbus-read-i2c-block-data");
    if (status != 0) return status;
    if (data.block[0] != t.length) {
        return fail(t, -EIO, "the adapter returned fewer bytes than asked for");
    }
    std::memcpy(t.in, &data.block[1], t.length);
    return 0;
}

// SMBus writes are chosen by the bytes they put on the wire after the
// address: the first is the command, whether it is a sub-address or data.
int I2cBus::smbusWrite(const Transfer& t)
{
    const std::uint8_t command = t.hasSubAddress() ? t.target.subAddr : t.out[0];
    const std::uint8_t* payload = t.hasSubAddress() ? t.out : t.out + 1;
    const unsigned int count = t.hasSubAddress() ? t.length : t.length - 1;
    i2c_smbus_data data = {};
    if (count == 0) {
        return smbusAccess(t, I2C_SMBUS_WRITE, command, I2C_SMBUS_BYTE, nullptr,
                           I2C_FUNC_SMBUS_WRITE_BYTE, "smbus-write-byte");
    }
    if (count == 1) {
        data.byte = payload[0];
        return smbusAccess(t, I2C_SMBUS_WRITE, command, I2C_SMBUS_BYTE_DATA, &data,
                           I2C_FUNC_SMBUS_WRITE_BYTE_DATA, "smbus-write-byte-data");
    }
    if (count == 2 && !supports(I2C_FUNC_SMBUS_WRITE_I2C_BLOCK) &&
        supports(I2C_FUNC_SMBUS_WRITE_WORD_DATA)) {
        data.word = static_cast<std::uint16_t>(payload[0] | payload[1] << 8);
        return smbusAccess(t, I2C_SMBUS_WRITE, command, I2C_SMBUS_WORD_DATA, &data,
                           I2C_FUNC_SMBUS_WRITE_WORD_DATA, "smbus-write-word-data");
    }
    if (count > I2C_SMBUS_BLOCK_MAX) {
        return fail(t, -EINVAL,
                    "adapter lacks I2C_RDWR; SMBus block writes carry 32 bytes at most");
    }
    data.block[0] = static_cast<std::uint8_t>(count);
    std::memcpy(&data.block[1], payload, count);
    return smbusAccess(t, I2C_SMBUS_WRITE, command, I2C_SMBUS_I2C_BLOCK_DATA, &data,
                       I2C_FUNC_SMBUS_WRITE_I2C_BLOCK, "smbus-write-i2c-block-data");
}

int I2cBus::smbusAccess(const Transfer& t, std::uint8_t readWrite, std::uint8_t command,
                        std::uint32_t size, i2c_smbus_data* data, unsigned long function,
                        const char* transaction)
{
    if (!supports(function)) {
        char hint[96];
        std::snprintf(hint, sizeof hint, "adapter lacks I2C_RDWR and %s", transaction);
        return fail(t, -EOPNOTSUPP, hint);
    }
    i2c_smbus_ioctl_data request = {readWrite, command, size, data};
    transaction_ = transaction;
    const int status = calls_.ioctl(fd_, I2C_SMBUS, &request);
    return status < 0 ? fail(t, status, transferHint(status)) : 0;
}

int I2cBus::fail(const Transfer& t, int status, const char* hint) const
{
    char where[40];
    if (t.hasSubAddress()) {
        std::snprintf(where, sizeof where, "at sub-address 0x%02X", t.target.subAddr);
    } else if (t.target.subAddrLen == 0) {
        std::snprintf(where, sizeof where, "without sub-address");
    } else {
        std::snprintf(where, sizeof where, "with a %u-byte sub-address", t.target.subAddrLen);
    }
    ZE_LOG_ERROR("%s: %s of %u byte%s %s device 0x%02X (8-bit 0x%02X) %s failed: %s (%s)",
                 path_.c_str(), t.read ? "read" : "write", t.length, t.length == 1 ? "" : "s",
                 t.read ? "from" : "to", t.address(), t.target.devAddr, where,
                 std::strerror(-status), hint);
    return status;
}

}  // namespace hw
}  // namespace platform
}  // namespace ze
