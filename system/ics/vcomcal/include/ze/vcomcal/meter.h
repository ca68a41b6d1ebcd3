#pragma once
// Flicker meters: one reading per call, lower is better.
//
// A command line runs its program directly when it is plain words, and
// through /bin/sh -c when it holds quotes, pipes, redirections, variables or
// other shell syntax. The meter sees the VCOM value the panel was set to in
// $VCOM_VALUE (and, for a stdio meter, as the line that asks for a reading).
//
// A meter program runs in a process group of its own, with no signal blocked
// and SIGINT, SIGTERM, SIGHUP and SIGPIPE at their defaults, whatever the
// caller does with them. When a reading times out or is abandoned, and when
// the meter is destroyed, the whole group gets SIGTERM and, kMeterKillGrace
// later, SIGKILL: nothing the meter started outlives it.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace ze {
namespace vcomcal {

// A meter that failed, timed out or answered something that is no number.
class MeterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A reading abandoned because a stop was requested.
class MeterInterrupted : public MeterError {
public:
    using MeterError::MeterError;
};

class Meter {
public:
    virtual ~Meter();
    // One reading of the panel, now set to `value`. Throws MeterError.
    virtual double read(unsigned value) = 0;
    // Lines the meter printed that answered no request (dropped unread).
    virtual unsigned long staleLines() const { return 0; }
};

constexpr std::chrono::milliseconds kDefaultMeterTimeout{10000};
// Between the SIGTERM and the SIGKILL to a meter's process group.
constexpr std::chrono::milliseconds kMeterKillGrace{200};
// A stop request is seen at least this often while a meter is waited for.
constexpr std::chrono::milliseconds kMeterStopPoll{20};
// A longer line of meter output is an error, and is never held whole.
constexpr std::size_t kMaxMeterLine = 64 * 1024;

// Polled while the meter is waited for and before each reading; once true,
// the reading is abandoned (MeterInterrupted) and the meter's group killed.
using StopRequested = std::function<bool()>;

// Runs `commandLine` for every reading; it must exit 0 and print one number.
std::unique_ptr<Meter> commandMeter(const std::string& commandLine,
                                    std::chrono::milliseconds timeout = kDefaultMeterTimeout,
                                    StopRequested stopRequested = {});
// Starts `commandLine` once; for every reading writes the value and a newline
// to its stdin and reads one line holding one number from its stdout. Lines
// that arrived before the request (a banner, a second line to an earlier
// answer) are dropped and counted: the answer is the first line begun after
// the request. Its stdin closes when the meter is destroyed; a meter still
// running kMeterExitGrace later is terminated.
std::unique_ptr<Meter> stdioMeter(const std::string& commandLine,
                                  std::chrono::milliseconds timeout = kDefaultMeterTimeout,
                                  StopRequested stopRequested = {});
constexpr std::chrono::milliseconds kMeterExitGrace{1000};

// The number on a line of meter output, surrounding blanks allowed; throws
// MeterError naming `meter` for anything else (also for inf and nan), quoting
// at most kQuotedMeterBytes of the line, bytes outside printable ASCII escaped.
double parseReading(const std::string& line, const std::string& meter);
constexpr std::size_t kQuotedMeterBytes = 60;

}  // namespace vcomcal
}  // namespace ze
