#pragma once
// One ordered record of what the code under test did, one line per event:
//   "sleep 20000"                   a wait of 20 ms
//   "write 0xE8 [0x25] 01"          an I2C write made through the driver's transport:
//                                   its 1 ms pause, then the SoC call (device,
//                                   sub-address, data bytes)
//   "write 0xE8 [] 90"              the same without a sub-address
//   "read 0xE9 [0x3D] 5D"           an I2C read and the bytes it returned
//   "write 0xE8 [0x26] C5 -> -121"  a SoC call that failed with that status
//   "unpaused write 0xE8 [0x25] 01" an I2C call without the 1 ms pause before it
//   "gpio 168=1", "open 1 mode 1", "freerun get 1", "freerun set 2"
//   "I <text>", "E <text>"          a debug message at info or error level, exactly
//                                   as emitted, without its "file:line:function(): "
//   "E writeNumBytes report"        the transport's whole failure report of the
//   "E readNumBytes report"         failed call just before, from the transport itself
// Waits come from the virtual clock, messages from LogCapture, SoC calls from
// a backend wrapped by recordCalls().

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ze/platform/soc_backend.h>

namespace ze {
namespace test {

// Recording runs from start to stop; start also empties the record.
void startTimeline();
void stopTimeline();
std::vector<std::string> timeline();

// A backend that passes every call on to `target` and records it.
std::shared_ptr<ze::platform::SocBackend> recordCalls(
    std::shared_ptr<ze::platform::SocBackend> target);

// Records a debug message as output, prefix included (LogCapture calls it).
void noteMessage(std::uint32_t level, const std::string& text);

// One trace entry in the timeline's form, status included.
std::string describe(const ze::platform::TraceEntry& entry);

}  // namespace test
}  // namespace ze
