#pragma once
// An i2c-dev node as the kernel presents it: records what each ioctl hands
// over, as the kernel would copy it in, and answers reads from a script.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace test {

struct KernelMessage {
    std::uint16_t addr;
    std::uint16_t flags;
    std::uint16_t len;
    std::vector<std::uint8_t> written;  // the buffer, for write messages

    bool operator==(const KernelMessage& o) const
    {
        return addr == o.addr && flags == o.flags && len == o.len && written == o.written;
    }
};

struct KernelSmbus {
    std::uint8_t readWrite;
    std::uint8_t command;
    std::uint32_t size;
    bool hasData;
    std::vector<std::uint8_t> data;  // the union as handed in: byte, word or block

    bool operator==(const KernelSmbus& o) const
    {
        return readWrite == o.readWrite && command == o.command && size == o.size &&
               hasData == o.hasData && data == o.data;
    }
};

struct KernelCall {
    int fd;
    unsigned long request;
    unsigned long argument;               // I2C_SLAVE: the address
    std::vector<KernelMessage> messages;  // I2C_RDWR
    KernelSmbus smbus;                    // I2C_SMBUS
};

class FakeAdapter : public ze::platform::SystemCalls {
public:
    static constexpr int kFd = 7;
    static constexpr unsigned long kI2cMaster = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
    // What i2c-stub offers: no I2C_RDWR.
    static constexpr unsigned long kStub =
        I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
        I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;

    unsigned long functions = kI2cMaster;
    std::vector<std::uint8_t> answer;     // the device's bytes for reads, in wire order
    std::map<unsigned long, int> failing;  // ioctl request (or 0 for open) -> negative errno
    int rdwrDone = -1;                     // messages I2C_RDWR reports done; -1: all

    std::vector<std::string> opened;
    std::vector<int> openFlags;
    std::vector<int> closed;
    std::vector<KernelCall> calls;

    // The transfers (I2C_RDWR and I2C_SMBUS calls), without setup calls.
    std::vector<KernelCall> transfers() const;
    unsigned int count(unsigned long request) const;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;

private:
    int rdwr(KernelCall& call, i2c_rdwr_ioctl_data* request);
    int smbus(KernelCall& call, i2c_smbus_ioctl_data* request);
};

}  // namespace test
}  // namespace ze
