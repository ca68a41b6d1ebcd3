#pragma once
// The waits of the virtual clock and the SoC calls of a simulated board,
// merged in the order they happened, one readable line each:
//   "sleep 1000"
//   "write 0xE8 [0x01] 34 -> 0"      (I2CWrite: device, sub-address, data bytes, status)
//   "write 0xE8 [] 01 -> 0"          (no sub-address)
//   "read 0xE8 [0x01] 34 -> 0"       (I2CRead: bytes read, shown only on success)
//   "gpio 168=1 -> 0"
//   "open 1 mode 1 -> 0", "freerun get 1 -> 0", "freerun set 2 -> 0"
// Times are not shown: the waits carry them.

#include <string>
#include <vector>

#include <ze/sim/board.h>

namespace ze {
namespace test {

std::vector<std::string> timeline(const ze::sim::Board& board);
// One trace entry in the timeline's form.
std::string describe(const ze::sim::TraceEntry& entry);

}  // namespace test
}  // namespace ze
