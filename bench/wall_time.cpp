// Wall time of each VCOM operation with the real usleep, against its physical
// minimum: the waits the driver asks for plus the time a 100 kHz bus needs for
// its transfers. The simulated bus answers at once, so each operation's wire
// time is added to its measured wall time as well.
//
//   vcom_wall_time [RUNS]    RUNS per operation and setting (default 3); the
//                            table gives the median ratio

#include <dlfcn.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// A read with a sub-address writes it first and turns round with a repeated start.
double wireUs(const std::vector<ze::sim::TraceEntry>& transfers)
{
    // Start, the address byte and `bytes` more.
    const auto message = [](unsigned bytes) { return kStartBits + kBitsPerByte * (1 + bytes); };
    unsigned bits = 0;
    for (const ze::sim::TraceEntry& t : transfers) {
        const auto data = static_cast<unsigned>(t.data.size());
        if (t.call == ze::sim::Call::I2CWrite) bits += message(t.subAddrLen + data) + kStopBits;
        if (t.call == ze::sim::Call::I2CRead)
            bits += (t.subAddrLen > 0 ? message(t.subAddrLen) : 0) + message(data) + kStopBits;
    }
    return bits * kBitUs;
}

// How the timed thread waits. The real-time policy takes the other processes
// of a busy machine out of the wake-up latency: what is left is the timer's.
struct Setting {
    const char* name;
    unsigned long slackNs;
    int policy;
    int error = 0;                          // errno of the last apply()
    std::vector<double> overshootsUs = {};  // over every run

    bool apply()
    {
        sched_param priority{};
        priority.sched_priority = policy == SCHED_FIFO ? sched_get_priority_min(SCHED_FIFO) : 0;
        const bool applied =
            prctl(PR_SET_TIMERSLACK, slackNs) == 0 && sched_setscheduler(0, policy, &priority) == 0;
        error = applied ? 0 : errno;
        return applied;
    }
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

Timing measure(ze::bench::Rig& rig, const ze::bench::Op& op, unsigned long runs, Setting& setting)
{
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
        setting.overshootsUs.insert(setting.overshootsUs.end(), gWaits.overshootsUs.begin(),
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
    const auto defaultSlackNs = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK));
    Setting settings[] = {{"default slack", defaultSlackNs, SCHED_OTHER},
                          {"slack 1 ns", kMinimumSlackNs, SCHED_OTHER},
                          {"1 ns + FIFO", kMinimumSlackNs, SCHED_FIFO}};

    std::printf("%-14s %6s %11s", "operation", "waits", "minimum us");
    for (const Setting& setting : settings) std::printf(" %13s", setting.name);
    std::printf("\n");
    try {
        for (const ze::ic::catalogue::ChipInfo& chip : ze::ic::catalogue::kChips) {
            ze::bench::Rig rig(chip);
            rig.board().setTraceEnabled(true);
            for (const ze::bench::Op& op : ze::bench::kOps) {
                std::vector<double> ratios;
                Timing timing{};
                for (Setting& setting : settings) {
                    if (setting.apply()) timing = measure(rig, op, runs, setting);
                    ratios.push_back(setting.error == 0 ? timing.medianRatio : 0);
                }
                std::printf("%-14s %6llu %11.0f", (std::string(chip.label) + "/" + op.name).c_str(),
                            static_cast<unsigned long long>(timing.waits), timing.minimumUs);
                for (double r : ratios)
                    r > 0 ? std::printf(" %13.4f", r) : std::printf(" %13s", "-");
                std::printf("\n");
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vcom_wall_time: %s\n", e.what());
        return 1;
    }
    for (Setting& setting : settings) {
        std::vector<double>& o = setting.overshootsUs;
        if (o.empty()) {
            std::printf("%s: not measured (%s)\n", setting.name, std::strerror(setting.error));
            continue;
        }
        std::printf(
            "overshoot per usleep, %s (%lu ns): mean %.1f us, median %.1f us over %zu waits\n",
            setting.name, setting.slackNs, std::accumulate(o.begin(), o.end(), 0.0) / o.size(),
            median(o), o.size());
    }
    return 0;
}
