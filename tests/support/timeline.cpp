#include "ze/test/timeline.h"

#include <cstdio>

#include "ze/test/virtual_clock.h"

namespace ze {
namespace test {
namespace {

std::string hex8(unsigned int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

std::string bytes(const std::vector<std::uint8_t>& data)
{
    std::string out;
    for (std::uint8_t b : data) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

}  // namespace

std::string describe(const ze::sim::TraceEntry& e)
{
    using ze::sim::Call;
    const std::string status = " -> " + std::to_string(e.status);
    const std::string sub = e.subAddrLen ? "[" + hex8(e.subAddr) + "]" : "[]";
    switch (e.call) {
    case Call::I2COpen:
        return "open " + std::to_string(e.bus) + " mode " + std::to_string(e.value) + status;
    case Call::I2CWrite:
        return "write " + hex8(e.devAddr) + " " + sub + " " + bytes(e.data) + status;
    case Call::I2CRead:
        return "read " + hex8(e.devAddr) + " " + sub + " " + bytes(e.data) + status;
    case Call::GpioSetValue:
        return "gpio " + std::to_string(e.bus) + "=" + std::to_string(e.value) + status;
    case Call::DisplayGetFreerunVfreq:
        return "freerun get " + std::to_string(e.value) + status;
    case Call::DisplaySetFreerunVfreq:
        return "freerun set " + std::to_string(e.value) + status;
    }
    return "?";
}

std::vector<std::string> timeline(const ze::sim::Board& board)
{
    // A call at time t precedes a wait that starts at t: had the wait come
    // first, the call would carry a later time.
    const std::vector<ze::sim::TraceEntry> calls = board.trace();
    const std::vector<Wait> sleeps = waits();
    std::vector<std::string> out;
    std::size_t c = 0, w = 0;
    while (c < calls.size() || w < sleeps.size()) {
        const bool takeCall =
            w == sleeps.size() || (c < calls.size() && calls[c].timeUs <= sleeps[w].startUs);
        if (takeCall) {
            out.push_back(describe(calls[c++]));
        } else {
            out.push_back("sleep " + std::to_string(sleeps[w++].durationUs));
        }
    }
    return out;
}

}  // namespace test
}  // namespace ze
