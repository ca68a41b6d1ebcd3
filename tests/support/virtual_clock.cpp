#include "ze/test/virtual_clock.h"

#include <unistd.h>

#include <mutex>

namespace {

std::mutex gMutex;
std::uint64_t gNowUs = 0;
std::uint64_t gSinceStartUs = 0;  // never reset
std::vector<ze::test::Wait> gWaits;
void (*gListener)(std::uint64_t) = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us)
{
    void (*listener)(std::uint64_t) = nullptr;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gWaits.push_back({gNowUs, us});
        gNowUs += us;
        gSinceStartUs += us;
        listener = gListener;
    }
    if (listener != nullptr) listener(us);
    return 0;
}

namespace ze {
namespace test {

std::uint64_t sinceStartUs()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gSinceStartUs;
}

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

void setWaitListener(void (*listener)(std::uint64_t))
{
    std::lock_guard<std::mutex> lock(gMutex);
    gListener = listener;
}

void resetClock()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gNowUs = 0;
    gWaits.clear();
}

}  // namespace test
}  // namespace ze
