#pragma once
// The test binaries define usleep: a wait advances a virtual clock instead of
// sleeping, and is recorded.

#include <cstdint>
#include <vector>

namespace ze {
namespace test {

struct Wait {
    std::uint64_t startUs;
    std::uint64_t durationUs;
};

std::uint64_t nowUs();
// Virtual time since the process started; resetClock leaves it alone.
std::uint64_t sinceStartUs();
// Every usleep since the last reset, in order.
std::vector<Wait> waits();
std::vector<std::uint64_t> waitDurations();
// Clock back to 0, no waits recorded.
void resetClock();
// Called on every wait, after the clock has advanced; nullptr: none.
void setWaitListener(void (*listener)(std::uint64_t durationUs));

}  // namespace test
}  // namespace ze
