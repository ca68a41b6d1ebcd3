#pragma once
// The system seams of the Linux backend, faked. Each logs its calls as text,
// with what is handed over as the kernel would copy it in:
//   "open /dev/i2c-1 rw", "FUNCS", "SLAVE 74", "close 7",
//   "RDWR 74/0/1[05] 74/1/2"       each i2c_msg: addr/flags/len[bytes written]
//   "SMBUS W 05 BYTE_DATA [12]"    direction, command, size and what goes in
//                                  through the union (none without a union)
//   "request gpiochip0:5 zeplatform 1", "set 41 0"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <ze/platform/linux_backend.h>
#include <ze/test/timeline.h>

namespace ze {
namespace test {

using Calls = std::vector<std::string>;

// An i2c-dev node; reads are answered from `answer`.
class FakeAdapter : public ze::platform::SystemCalls {
public:
    static constexpr int kFd = 7;
    static constexpr unsigned long kI2cMaster = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
    // What i2c-stub offers: no I2C_RDWR.
    static constexpr unsigned long kStub = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
                                           I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA |
                                           I2C_FUNC_SMBUS_I2C_BLOCK;

    unsigned long functions = kI2cMaster;
    std::vector<std::uint8_t> answer;    // the device's bytes for reads, in wire order
    std::map<std::string, int> failing;  // "open", "FUNCS", "SLAVE", ... -> negative errno
    int rdwrDone = -1;                   // messages I2C_RDWR reports done; -1: all
    Calls calls;

    Calls transfers() const  // the RDWR and SMBUS calls
    {
        Calls out;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(out), [](const std::string& c) {
            return c.rfind("RDWR", 0) == 0 || c.rfind("SMBUS", 0) == 0;
        });
        return out;
    }

    int open(const char* path, int flags) override
    {
        const bool readWrite = (flags & O_ACCMODE) == O_RDWR;
        calls.push_back(std::string("open ") + path + (readWrite ? " rw" : ""));
        return result("open", kFd);
    }
    int close(int fd) override
    {
        calls.push_back("close " + std::to_string(fd));
        return 0;
    }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        if (fd != kFd) return -EBADF;
        char text[16];
        switch (request) {
            case I2C_FUNCS:
                calls.push_back("FUNCS");
                if (failing.count("FUNCS") == 0) *static_cast<unsigned long*>(argument) = functions;
                return result("FUNCS", 0);
            case I2C_SLAVE:  // takes the address itself
                std::snprintf(
                    text, sizeof text, "SLAVE %02lX",
                    static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(argument)));
                calls.push_back(text);
                return result("SLAVE", 0);
            case I2C_RDWR:
                return result("RDWR", rdwr(*static_cast<i2c_rdwr_ioctl_data*>(argument)));
            case I2C_SMBUS:
                return result("SMBUS", smbus(*static_cast<i2c_smbus_ioctl_data*>(argument)));
            default:
                return -ENOTTY;
        }
    }

private:
    int result(const std::string& call, int status) const
    {
        const auto it = failing.find(call);
        return it != failing.end() ? it->second : status;
    }

    int rdwr(i2c_rdwr_ioctl_data& request)
    {
        std::string text = "RDWR";
        for (std::uint32_t i = 0; i < request.nmsgs; ++i) {
            const i2c_msg& m = request.msgs[i];
            char head[24];
            std::snprintf(head, sizeof head, " %02X/%X/%u", m.addr, m.flags, m.len);
            text += head;
            if ((m.flags & I2C_M_RD) == 0)
                text += "[" + hexBytes(m.buf, m.len) + "]";
            else
                std::copy_n(answer.begin(), std::min<std::size_t>(m.len, answer.size()), m.buf);
        }
        calls.push_back(text);
        return rdwrDone >= 0 ? rdwrDone : static_cast<int>(request.nmsgs);
    }

    int smbus(i2c_smbus_ioctl_data& request)
    {
        static const std::map<std::uint32_t, const char*> kSizes = {
            {I2C_SMBUS_BYTE, "BYTE"},
            {I2C_SMBUS_BYTE_DATA, "BYTE_DATA"},
            {I2C_SMBUS_WORD_DATA, "WORD_DATA"},
            {I2C_SMBUS_I2C_BLOCK_DATA, "I2C_BLOCK_DATA"}};
        const bool write = request.read_write == I2C_SMBUS_WRITE;
        const bool block = request.size == I2C_SMBUS_I2C_BLOCK_DATA;
        const auto size = kSizes.find(request.size);
        char head[48];
        std::snprintf(head, sizeof head, "SMBUS %c %02X %s", write ? 'W' : 'R', request.command,
                      size != kSizes.end() ? size->second : "?");
        calls.push_back(head);
        if (request.data == nullptr) return 0;
        // The union's bytes as the kernel copies them (a word in host order, which
        // is little-endian on every target); a block read hands in its length only.
        std::uint8_t* const u = request.data->block;
        const std::size_t words = request.size == I2C_SMBUS_WORD_DATA ? 2 : 1;
        const std::size_t in = block ? (write ? 1u + u[0] : 1u) : (write ? words : 0);
        calls.back() += " [" + hexBytes(u, in) + "]";
        if (write) return 0;
        const std::size_t n = block ? std::min<std::size_t>(u[0], answer.size()) : 2;
        if (block) u[0] = static_cast<std::uint8_t>(n);
        answer.resize(std::max(answer.size(), n));
        std::copy_n(answer.begin(), n, block ? u + 1 : u);
        return 0;
    }
};

// GPIO chips: a line's handle is 40 + its offset; requests fail with
// `requestStatus`, sets with `setStatus` when negative.
class FakeGpio : public ze::platform::GpioChipAccess {
public:
    static constexpr int kFirstHandle = 40;

    int requestStatus = 0;
    int setStatus = 0;
    Calls calls;

    int requestOutput(const std::string& chip, unsigned int offset, const char* consumer,
                      int level) override
    {
        calls.push_back("request " + chip + ":" + std::to_string(offset) + " " + consumer + " " +
                        std::to_string(level));
        return requestStatus < 0 ? requestStatus : kFirstHandle + static_cast<int>(offset);
    }
    int setValue(int handle, int level) override
    {
        calls.push_back("set " + std::to_string(handle) + " " + std::to_string(level));
        return setStatus;
    }
};

}  // namespace test
}  // namespace ze
