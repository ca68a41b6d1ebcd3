#include "fake_adapter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ze {
namespace test {

std::vector<KernelCall> FakeAdapter::transfers() const
{
    std::vector<KernelCall> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out), [](const KernelCall& c) {
        return c.request == I2C_RDWR || c.request == I2C_SMBUS;
    });
    return out;
}

unsigned int FakeAdapter::count(unsigned long request) const
{
    return static_cast<unsigned int>(std::count_if(
        calls.begin(), calls.end(), [&](const KernelCall& c) { return c.request == request; }));
}

int FakeAdapter::open(const char* path, int flags)
{
    opened.push_back(path);
    openFlags.push_back(flags);
    const auto failure = failing.find(0);
    return failure != failing.end() ? failure->second : kFd;
}

int FakeAdapter::close(int fd)
{
    closed.push_back(fd);
    return 0;
}

int FakeAdapter::ioctl(int fd, unsigned long request, void* argument)
{
    calls.push_back(KernelCall{fd, request, 0, {}, {}});
    KernelCall& call = calls.back();
    if (fd != kFd) return -EBADF;
    const auto failure = failing.find(request);
    switch (request) {
    case I2C_FUNCS:
        if (failure != failing.end()) return failure->second;
        *static_cast<unsigned long*>(argument) = functions;
        return 0;
    case I2C_SLAVE:
        call.argument = reinterpret_cast<std::uintptr_t>(argument);
        return failure != failing.end() ? failure->second : 0;
    case I2C_RDWR: {
        const int status = rdwr(call, static_cast<i2c_rdwr_ioctl_data*>(argument));
        return failure != failing.end() ? failure->second : status;
    }
    case I2C_SMBUS: {
        auto* data = static_cast<i2c_smbus_ioctl_data*>(argument);
        smbus(call, data);
        if (failure != failing.end()) return failure->second;
        if (data->read_write == I2C_SMBUS_READ) {
            // The kernel copies the answer back in the union the caller handed in.
            if (data->size == I2C_SMBUS_WORD_DATA) {
                data->data->word = static_cast<std::uint16_t>(answer.at(0) | answer.at(1) << 8);
            } else if (data->size == I2C_SMBUS_I2C_BLOCK_DATA) {
                const std::size_t n = std::min<std::size_t>(data->data->block[0], answer.size());
                data->data->block[0] = static_cast<std::uint8_t>(n);
                std::copy_n(answer.begin(), n, &data->data->block[1]);
            } else {
                data->data->byte = answer.at(0);
            }
        }
        return 0;
    }
    default: return -ENOTTY;
    }
}

int FakeAdapter::rdwr(KernelCall& call, i2c_rdwr_ioctl_data* request)
{
    for (std::uint32_t i = 0; i < request->nmsgs; ++i) {
        const i2c_msg& m = request->msgs[i];
        KernelMessage copy{m.addr, m.flags, m.len, {}};
        if (m.flags & I2C_M_RD) {
            std::copy_n(answer.begin(), std::min<std::size_t>(m.len, answer.size()), m.buf);
        } else {
            copy.written.assign(m.buf, m.buf + m.len);
        }
        call.messages.push_back(copy);
    }
    return rdwrDone >= 0 ? rdwrDone : static_cast<int>(request->nmsgs);
}

int FakeAdapter::smbus(KernelCall& call, i2c_smbus_ioctl_data* request)
{
    KernelSmbus& s = call.smbus;
    s = KernelSmbus{request->read_write, request->command, request->size,
                    request->data != nullptr, {}};
    if (request->data == nullptr) return 0;
    const i2c_smbus_data& d = *request->data;
    if (request->read_write == I2C_SMBUS_READ) {
        // Of a read only a block read's length goes in.
        if (request->size == I2C_SMBUS_I2C_BLOCK_DATA) s.data = {d.block[0]};
        return 0;
    }
    switch (request->size) {
    case I2C_SMBUS_BYTE_DATA: s.data = {d.byte}; break;
    case I2C_SMBUS_WORD_DATA:
        s.data = {static_cast<std::uint8_t>(d.word & 0xFFu), static_cast<std::uint8_t>(d.word >> 8)};
        break;
    case I2C_SMBUS_I2C_BLOCK_DATA: s.data.assign(d.block, d.block + 1 + d.block[0]); break;
    default: break;
    }
    return 0;
}

}  // namespace test
}  // namespace ze
