// Wall time of each VCOM operation with the real usleep, against its physical
// minimum: the waits the driver asks for plus the time a 100 kHz bus needs for
// its transfers. The simulated bus answers at once, so each operation's wire
// time is added to its measured wall time as well.
//
//   vcom_wall_time [RUNS]    RUNS per operation and timer slack (default 3);
//                            the table gives the median ratio

#include <dlfcn.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <numeric>
#include <string>
#include <vector>

#include "rig.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Waits {
    std::uint64_t requestedUs = 0;
    std::vector<double> overshootsUs;
};
Waits gWaits;

double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

// Sleeps for real and keeps what was asked for and how late it returned.
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us)
{
    using RealUsleep = int (*)(useconds_t);
    static const auto real = reinterpret_cast<RealUsleep>(dlsym(RTLD_NEXT, "usleep"));
    const Clock::time_point start = Clock::now();
    const int result = real(us);
    gWaits.overshootsUs.push_back(microsecondsSince(start) - us);
    gWaits.requestedUs += us;
    return result;
}

namespace {

constexpr double kBitUs = 10.0;       // 100 kHz standard mode
constexpr unsigned kBitsPerByte = 9;  // eight data bits and the acknowledge
constexpr unsigned kStartBits = 1;    // a start or a repeated start
constexpr unsigned kStopBits = 1;
constexpr unsigned long kDefaultRuns = 3;
constexpr unsigned long kMinimumSlackNs = 1;

// Start, the address byte and `bytes` more.
unsigned messageBits(unsigned bytes)
{
    return kStartBits + kBitsPerByte * (1 + bytes);
}

// A read with a sub-address writes it first and turns round with a repeated start.
double wireUs(const std::vector<ze::sim::TraceEntry>& transfers)
{
    unsigned bits = 0;
    for (const ze::sim::TraceEntry& t : transfers) {
        const unsigned data = static_cast<unsigned>(t.data.size());
        if (t.call == ze::sim::Call::I2CWrite) {
            bits += messageBits(t.subAddrLen + data) + kStopBits;
        } else if (t.call == ze::sim::Call::I2CRead) {
            bits +=
                (t.subAddrLen > 0 ? messageBits(t.subAddrLen) : 0) + messageBits(data) + kStopBits;
        }
    }
    return bits * kBitUs;
}

struct Slack {
    const char* name;
    unsigned long ns;
    std::vector<double> overshootsUs = {};  // over every run
};

// Of a list that is not empty; reorders it.
double median(std::vector<double>& values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

struct Timing {
    double medianRatio;  // of (wall + wire) / (requested waits + wire); 0: no minimum
    double minimumUs;
    std::uint64_t waits;
};

Timing time(ze::bench::Rig& rig, const ze::bench::Op& op, unsigned long runs, Slack& slack)
{
    prctl(PR_SET_TIMERSLACK, slack.ns);
    std::vector<double> ratios;
    double minimumUs = 0;
    for (unsigned long i = 0; i < runs; ++i) {
        gWaits.requestedUs = 0;
        gWaits.overshootsUs.clear();
        rig.board().clearTrace();
        const Clock::time_point start = Clock::now();
        if (!rig.run(op)) throw std::runtime_error(std::string(op.name) + " failed");
        const double wallUs = microsecondsSince(start);
        const double wire = wireUs(rig.board().trace());
        minimumUs = static_cast<double>(gWaits.requestedUs) + wire;
        ratios.push_back(minimumUs > 0 ? (wallUs + wire) / minimumUs : 0);
        slack.overshootsUs.insert(slack.overshootsUs.end(), gWaits.overshootsUs.begin(),
                                  gWaits.overshootsUs.end());
    }
    return {median(ratios), minimumUs, gWaits.overshootsUs.size()};
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned long runs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : kDefaultRuns;
    if (argc > 2 || runs == 0) {
        std::fprintf(stderr, "usage: %s [RUNS]   (RUNS: a positive number, default %lu)\n", argv[0],
                     kDefaultRuns);
        return 2;
    }
    Slack slacks[] = {{"default", static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK))},
                      {"minimum", kMinimumSlackNs}};

    std::printf("%-14s %6s %11s %13s %13s\n", "operation", "waits", "minimum us", "ratio default",
                "ratio minimum");
    try {
        for (const ze::ic::catalogue::ChipInfo& chip : ze::ic::catalogue::kChips) {
            ze::bench::Rig rig(chip);
            rig.board().setTraceEnabled(true);
            for (const ze::bench::Op& op : ze::bench::kOps) {
                std::vector<double> ratios;
                Timing timing{};
                for (Slack& slack : slacks) {
                    timing = time(rig, op, runs, slack);
                    ratios.push_back(timing.medianRatio);
                }
                std::printf("%-14s %6llu %11.0f", (std::string(chip.label) + "/" + op.name).c_str(),
                            static_cast<unsigned long long>(timing.waits), timing.minimumUs);
                for (double ratio : ratios) {
                    ratio > 0 ? std::printf(" %13.4f", ratio) : std::printf(" %13s", "-");
                }
                std::printf("\n");
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vcom_wall_time: %s\n", e.what());
        return 1;
    }
    for (Slack& slack : slacks) {
        std::vector<double>& o = slack.overshootsUs;
        std::printf(
            "overshoot per usleep, %s timer slack (%lu ns): mean %.1f us, median %.1f us "
            "over %zu waits\n",
            slack.name, slack.ns, std::accumulate(o.begin(), o.end(), 0.0) / o.size(), median(o),
            o.size());
    }
    return 0;
}
