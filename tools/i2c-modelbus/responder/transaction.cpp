#include "transaction.h"

#include <cstdio>
#include <cstring>

#include "i2c-modelbus.h"

namespace modelbus {
namespace {

constexpr std::uint8_t kReadBit = 0x01;

I2cTarget targetFor(const Message& m)
{
    I2cTarget target = {};
    target.devAddr = static_cast<std::uint8_t>(m.addr << 1 | (m.read ? kReadBit : 0));
    return target;
}

bool isSubAddressThenRead(const Message& m, const Message* next)
{
    return !m.read && m.bytes.size() == 1 && next != nullptr && next->read && next->addr == m.addr;
}

}  // namespace

bool parseRequest(const std::uint8_t* data, std::size_t size, std::uint32_t* id,
                  std::vector<Message>* messages)
{
    modelbus_request header;
    if (size < sizeof header) return false;
    std::memcpy(&header, data, sizeof header);
    *id = header.id;
    if (header.nmsgs > MODELBUS_MAX_MSGS) return false;
    std::size_t at = sizeof header + header.nmsgs * sizeof(modelbus_msg);
    if (size < at) return false;
    messages->assign(header.nmsgs, Message{});
    for (std::size_t i = 0; i < header.nmsgs; ++i) {
        modelbus_msg msg;
        std::memcpy(&msg, data + sizeof header + i * sizeof msg, sizeof msg);
        Message& m = (*messages)[i];
        m.addr = msg.addr;
        m.read = (msg.flags & MODELBUS_MSG_READ) != 0;
        if (m.read) {
            m.bytes.resize(msg.len);
            continue;
        }
        if (size - at < msg.len) return false;
        m.bytes.assign(data + at, data + at + msg.len);
        at += msg.len;
    }
    return at == size;
}

std::vector<std::uint8_t> encodeReply(std::uint32_t id, int status,
                                      const std::vector<Message>& messages)
{
    const modelbus_reply reply = {id, status};
    const auto* head = reinterpret_cast<const std::uint8_t*>(&reply);
    std::vector<std::uint8_t> out(head, head + sizeof reply);
    if (status != 0) return out;
    for (const Message& m : messages) {
        if (m.read) out.insert(out.end(), m.bytes.begin(), m.bytes.end());
    }
    return out;
}

int serve(ze::sim::Board& board, unsigned int bus, std::vector<Message>& messages)
{
    for (std::size_t i = 0; i < messages.size(); ++i) {
        Message& m = messages[i];
        Message* next = i + 1 < messages.size() ? &messages[i + 1] : nullptr;
        int status = 0;
        if (isSubAddressThenRead(m, next)) {
            I2cTarget target = targetFor(*next);
            target.subAddrLen = 1;
            target.subAddr = m.bytes[0];
            status = board.i2cRead(bus, target, static_cast<unsigned int>(next->bytes.size()),
                                   next->bytes.data());
            ++i;
        } else if (m.read) {
            status = board.i2cRead(bus, targetFor(m), static_cast<unsigned int>(m.bytes.size()),
                                   m.bytes.data());
        } else {
            I2cTarget target = targetFor(m);
            const std::uint8_t* data = m.bytes.data();
            unsigned int length = static_cast<unsigned int>(m.bytes.size());
            if (length >= 2) {
                target.subAddrLen = 1;
                target.subAddr = data[0];
                ++data;
                --length;
            }
            status = board.i2cWrite(bus, target, data, length);
        }
        if (status != 0) return status;
    }
    return 0;
}

std::string describe(const std::vector<Message>& messages, bool withReadBytes)
{
    std::string text;
    char part[8];
    for (const Message& m : messages) {
        if (!text.empty()) text += ' ';
        std::snprintf(part, sizeof part, "%c@%02x", m.read ? 'r' : 'w', m.addr);
        text += part;
        if (m.read && !withReadBytes) {
            std::snprintf(part, sizeof part, "[%zu]", m.bytes.size());
            text += part;
            continue;
        }
        for (std::uint8_t byte : m.bytes) {
            std::snprintf(part, sizeof part, " %02x", byte);
            text += part;
        }
    }
    return text;
}

}  // namespace modelbus
