#include "fake_adapter.h"

#include <algorithm>
#include <cerrno>

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

std::vector<unsigned long> FakeAdapter::selected() const
{
    std::vector<unsigned long> out;
    for (const KernelCall& c : calls) {
        if (c.request == I2C_SLAVE) out.push_back(c.argument);
    }
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
    return failing.count(kOpen) != 0 ? failing[kOpen] : kFd;
}

int FakeAdapter::close(int fd)
{
    closed.push_back(fd);
    return 0;
}

int FakeAdapter::ioctl(int fd, unsigned long request, void* argument)
{
    calls.push_back(KernelCall{request, 0, {}, {}});
    KernelCall& call = calls.back();
    if (fd != kFd) return -EBADF;
    int status = 0;
    switch (request) {
    case I2C_FUNCS:
        if (failing.count(request) == 0) *static_cast<unsigned long*>(argument) = functions;
        break;
    case I2C_SLAVE: call.argument = reinterpret_cast<std::uintptr_t>(argument); break;
    case I2C_RDWR: status = rdwr(call, *static_cast<i2c_rdwr_ioctl_data*>(argument)); break;
    case I2C_SMBUS: smbus(call, *static_cast<i2c_smbus_ioctl_data*>(argument)); break;
    default: return -ENOTTY;
    }
    return failing.count(request) != 0 ? failing[request] : status;
}

int FakeAdapter::rdwr(KernelCall& call, i2c_rdwr_ioctl_data& request)
{
    for (std::uint32_t i = 0; i < request.nmsgs; ++i) {
        const i2c_msg& m = request.msgs[i];
        const bool read = (m.flags & I2C_M_RD) != 0;
        call.messages.emplace_back(m.addr, m.flags, m.len,
                                   read ? std::vector<std::uint8_t>{}
                                        : std::vector<std::uint8_t>(m.buf, m.buf + m.len));
        if (read) std::copy_n(answer.begin(), std::min<std::size_t>(m.len, answer.size()), m.buf);
    }
    return rdwrDone >= 0 ? rdwrDone : static_cast<int>(request.nmsgs);
}

void FakeAdapter::smbus(KernelCall& call, i2c_smbus_ioctl_data& request)
{
    call.smbus = KernelSmbus{request.read_write, request.command, request.size,
                             request.data != nullptr, {}};
    if (request.data == nullptr) return;
    std::vector<std::uint8_t>& in = std::get<4>(call.smbus);
    i2c_smbus_data& d = *request.data;
    const bool block = request.size == I2C_SMBUS_I2C_BLOCK_DATA;
    if (request.read_write == I2C_SMBUS_WRITE) {
        if (request.size == I2C_SMBUS_BYTE_DATA) in = {d.byte};
        if (request.size == I2C_SMBUS_WORD_DATA) {
            in = {static_cast<std::uint8_t>(d.word & 0xFFu),
                  static_cast<std::uint8_t>(d.word >> 8)};
        }
        if (block) in.assign(d.block, d.block + 1 + d.block[0]);
        return;
    }
    // Of a read only a block read's length goes in; the answer comes back in the union.
    if (block) {
        in = {d.block[0]};
        const std::size_t n = std::min<std::size_t>(d.block[0], answer.size());
        d.block[0] = static_cast<std::uint8_t>(n);
        std::copy_n(answer.begin(), n, &d.block[1]);
    } else {
        answer.resize(std::max<std::size_t>(answer.size(), 2));
        d.word = static_cast<std::uint16_t>(answer[0] | answer[1] << 8);  // sets byte too
    }
}

}  // namespace test
}  // namespace ze
