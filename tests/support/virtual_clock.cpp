#include "ze/test/virtual_clock.h"

#include <unistd.h>

#include <mutex>

#include <ze/sim/device.h>

namespace {

std::mutex gMutex;
std::uint64_t gNowUs = 0;
std::uint64_t gSinceStartUs = 0;  // never reset
std::vector<ze::test::Wait> gWaits;

// Simulated parts keep their busy windows on the virtual clock too, on a
// scale that resetClock leaves alone: a part busy when a test resets the clock
// must not stay busy for longer.
std::uint64_t sinceStartUs()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gSinceStartUs;
}
const bool gSimulatedBoardsUseVirtualTime = (ze::sim::setDefaultClock(sinceStartUs), true);

}  // namespace

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gWaits.push_back({gNowUs, us});
    gNowUs += us;
    gSinceStartUs += us;
    return 0;
}

namespace ze {
namespace test {

std::uint64_t nowUs()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gNowUs;
}

std::vector<Wait> waits()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gWaits;
}

std::vector<std::uint64_t> waitDurations()
{
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<std::uint64_t> out;
    out.reserve(gWaits.size());
    for (const Wait& w : gWaits) out.push_back(w.durationUs);
    return out;
}

void resetClock()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gNowUs = 0;
    gWaits.clear();
}

}  // namespace test
}  // namespace ze
