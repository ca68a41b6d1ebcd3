#pragma once
// Flicker meters: one reading per call, lower is better.
//
// A command line runs its program directly when it is plain words, and
// through /bin/sh -c when it holds quotes, pipes, redirections, variables or
// other shell syntax. The meter sees the VCOM value the panel was set to in
// $VCOM_VALUE (and, for a stdio meter, as the line that asks for a reading).

#include <chrono>
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

class Meter {
public:
    virtual ~Meter();
    // One reading of the panel, now set to `value`. Throws MeterError.
    virtual double read(unsigned value) = 0;
};

constexpr std::chrono::milliseconds kDefaultMeterTimeout{10000};

// Runs `commandLine` for every reading; it must exit 0 and print one number.
std::unique_ptr<Meter> commandMeter(const std::string& commandLine,
                                    std::chrono::milliseconds timeout = kDefaultMeterTimeout);
// Starts `commandLine` once; for every reading writes the value and a newline
// to its stdin and reads one line holding one number from its stdout. Its
// stdin closes when the meter is destroyed.
std::unique_ptr<Meter> stdioMeter(const std::string& commandLine,
                                  std::chrono::milliseconds timeout = kDefaultMeterTimeout);

// The number on a line of meter output, surrounding blanks allowed; throws
// MeterError naming `meter` for anything else (also for inf and nan).
double parseReading(const std::string& line, const std::string& meter);

}  // namespace vcomcal
}  // namespace ze
