// CPU per command of a vcomctl session against the same driver calls made
// directly on ze::hal::Vcom, on the simulated AUO panel, at the start of a
// long session and at its end. The driver's waits return at once (the
// parts' busy windows pass on their virtual time), so only code is timed.

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <ze/sim/device.h>

#include "app.h"
#include "rig.h"

namespace {

std::atomic<std::uint64_t> gWaitedUs{0};

constexpr std::uint64_t kLongSession = 100000;
constexpr std::uint64_t kWindow = 1000;  // commands timed at each end
constexpr double kNsPerUs = 1000.0;
constexpr std::uint64_t kNsPerSecond = 1000000000;
const char* const kCommands[] = {"update 64\n", "read\n"};

std::uint64_t cpuNs()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kNsPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// The CPU time at which command `first` of each window starts and the
// window's last command ends.
struct Windows {
    std::uint64_t startNs[2] = {};
    std::uint64_t endNs[2] = {};
    void stamp(std::uint64_t command)
    {
        const std::uint64_t now = cpuNs();
        if (command == 0) startNs[0] = now;
        if (command == kWindow) endNs[0] = now;
        if (command == kLongSession - kWindow) startNs[1] = now;
        if (command == kLongSession) endNs[1] = now;
    }
    double usPerCommand(int window) const
    {
        return static_cast<double>(endNs[window] - startNs[window]) / kNsPerUs / kWindow;
    }
};

// Session input made a line at a time: each new line marks the end of the
// command before it.
class CommandSource : public std::streambuf {
public:
    explicit CommandSource(Windows& windows) : windows_(windows) {}

protected:
    int_type underflow() override
    {
        windows_.stamp(next_);
        if (next_ == kLongSession) return traits_type::eof();
        line_ = kCommands[next_++ % 2];
        setg(&line_[0], &line_[0], &line_[0] + line_.size());
        return traits_type::to_int_type(line_[0]);
    }

private:
    Windows& windows_;
    std::uint64_t next_ = 0;
    std::string line_;
};

class Discard : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

Windows session(bool json)
{
    Windows windows;
    CommandSource source(windows);
    Discard discard;
    std::istream in(&source);
    std::ostream out(&discard);
    std::ostream err(&discard);
    std::vector<std::string> args = {"--sim", "auo", "session"};
    if (json) args.insert(args.begin(), "--json");
    if (vcomctl::runVcomctl(args, vcomctl::Io{out, err, in}) != 0) {
        std::fprintf(stderr, "session_bench: the session failed\n");
    }
    return windows;
}

Windows direct()
{
    Windows windows;
    ze::bench::Rig rig(*ze::ic::catalogue::byName("auo"));
    for (std::uint64_t command = 0; command < kLongSession; ++command) {
        windows.stamp(command);
        rig.run(ze::bench::kOps[command % 2 == 0 ? 1 : 0]);
    }
    windows.stamp(kLongSession);
    return windows;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us)
{
    gWaitedUs.fetch_add(us, std::memory_order_relaxed);
    return 0;
}

int main()
{
    ze::sim::setDefaultClock([] { return gWaitedUs.load(std::memory_order_relaxed); });
    const Windows calls = direct();
    std::printf("| output | commands | session µs/command | direct µs/call | difference µs |\n");
    std::printf("| --- | --- | ---: | ---: | ---: |\n");
    for (const bool json : {false, true}) {
        const Windows run = session(json);
        for (int window = 0; window < 2; ++window) {
            const double ours = run.usPerCommand(window);
            const double theirs = calls.usPerCommand(window);
            std::printf("| %s | %s | %.2f | %.2f | %.2f |\n", json ? "--json" : "text",
                        window == 0 ? "1 to 1,000" : "99,001 to 100,000", ours, theirs,
                        ours - theirs);
        }
    }
    return 0;
}
