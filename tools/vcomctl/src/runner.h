#pragma once
// The driver brought up exactly as the HAL framework does it (the IC wrapper
// on the HAL core's registry, its driver created, registered and fetched back
// through the VCOM interface), and the commands applied to it one at a time.
// Each result tells whether the command worked: from the status the driver
// returns, from its error messages where it returns none (the pattern), and
// for a save from reading the value back.

#include <memory>
#include <string>

#include "driver_log.h"
#include "platform_setup.h"
#include "stop_control.h"

namespace vcomctl {

struct RunnerSetup {
    const Options& options;
    PlatformSetup& platform;
    DriverLog& log;
    Console& console;                   // progress while a driver call runs; -v notes
    const StopControl* stop = nullptr;  // a calibration ends early once it asks for a stop
};

class Runner {
public:
    virtual ~Runner() = default;
    // The driver's own init(): parses the board file and opens the bus.
    virtual CommandResult init() = 0;
    virtual CommandResult run(const Command& command) = 0;
};

// The driver brought up; nullptr, with *error set, when a step fails.
std::unique_ptr<Runner> openRunner(const RunnerSetup& setup, std::string* error);

}  // namespace vcomctl
