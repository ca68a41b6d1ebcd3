#pragma once
// One transfer of the i2c-modelbus adapter, played on the simulated board.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <ze/sim/board.h>

namespace modelbus {

struct Message {
    std::uint16_t addr;  // 7-bit
    bool read;
    // Write: the bytes sent. Read: as many bytes as asked for, filled on success.
    std::vector<std::uint8_t> bytes;
};

// Decodes a request read from the adapter (i2c-modelbus.h); false when
// `size` does not hold what its header announces.
bool parseRequest(const std::uint8_t* data, std::size_t size, std::uint32_t* id,
                  std::vector<Message>* messages);
// The reply to write back: the status and, when it is 0, the read messages' bytes.
std::vector<std::uint8_t> encodeReply(std::uint32_t id, int status,
                                      const std::vector<Message>& messages);

// Plays the messages of one transfer, in order, as the board's SoC calls the
// Linux backend would have made for them: a one-byte write followed by a read
// of the same device (sub-address, repeated start, read) is one i2cRead with
// that sub-address; a write of two or more bytes is an i2cWrite whose first
// byte is the sub-address; anything else is one call per message. Reads go
// to the read form of the address (addr << 1 | 1), writes to the write form,
// as the address byte on the wire has it. Stops at the first message that
// fails and returns its status (0 when all went through).
int serve(ze::sim::Board& board, unsigned int bus, std::vector<Message>& messages);

// "w@74 01 80 r@74 3c": the messages as the log shows them; read bytes only
// when `withReadBytes`.
std::string describe(const std::vector<Message>& messages, bool withReadBytes);

}  // namespace modelbus
