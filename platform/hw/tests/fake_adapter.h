#pragma once
// An i2c-dev node as the kernel sees it: records what each ioctl hands over,
// as the kernel would copy it in, and answers reads from a script.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace test {

// addr, flags, len, and the buffer of a write message.
using KernelMessage =
    std::tuple<std::uint16_t, std::uint16_t, std::uint16_t, std::vector<std::uint8_t>>;
// read_write, command, size, whether a union was handed in, and what went in
// through it: the byte, the word low byte first, or the block.
using KernelSmbus =
    std::tuple<std::uint8_t, std::uint8_t, std::uint32_t, bool, std::vector<std::uint8_t>>;

struct KernelCall {
    unsigned long request;
    unsigned long argument;               // I2C_SLAVE: the address
    std::vector<KernelMessage> messages;  // I2C_RDWR
    KernelSmbus smbus;                    // I2C_SMBUS
};

class FakeAdapter : public ze::platform::SystemCalls {
public:
    static constexpr int kFd = 7;
    static constexpr int kOpen = 0;  // key of `failing` for open()
    static constexpr unsigned long kI2cMaster = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
    // What i2c-stub offers: no I2C_RDWR.
    static constexpr unsigned long kStub = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
                                           I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA |
                                           I2C_FUNC_SMBUS_I2C_BLOCK;

    unsigned long functions = kI2cMaster;
    std::vector<std::uint8_t> answer;      // the device's bytes for reads, in wire order
    std::map<unsigned long, int> failing;  // ioctl request or kOpen -> negative errno
    int rdwrDone = -1;                     // messages I2C_RDWR reports done; -1: all

    std::vector<std::string> opened;
    std::vector<int> openFlags;
    std::vector<int> closed;
    std::vector<KernelCall> calls;

    std::vector<KernelCall> transfers() const;  // the I2C_RDWR and I2C_SMBUS calls
    std::vector<unsigned long> selected() const;  // the I2C_SLAVE addresses
    unsigned int count(unsigned long request) const;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;

private:
    int rdwr(KernelCall& call, i2c_rdwr_ioctl_data& request);
    void smbus(KernelCall& call, i2c_smbus_ioctl_data& request);
};

}  // namespace test
}  // namespace ze
