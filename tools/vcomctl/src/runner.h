#pragma once
// The driver brought up exactly as the HAL framework does it (the IC wrapper
// on the HAL core's registry, its driver created, registered and fetched back
// through the VCOM interface), and the commands applied to it one at a time.
// Each result tells whether the command worked: from the status the driver
// returns, from its error messages where it returns none (the pattern), and
// for a save from reading the value back.

#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/vcom.h>

#include "driver_log.h"
#include "platform_setup.h"
#include "stop_control.h"

namespace ze {
namespace ic {
class Vcom;
class VCOMICDriver;
}  // namespace ic
}  // namespace ze

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
    // The number the driver is registered under.
    static constexpr int kDriverId = 0;

    // nullptr, with *error set, when a step of the bring-up fails.
    static std::unique_ptr<Runner> open(const RunnerSetup& setup, std::string* error);
    // Unregisters the driver and stops the trace.
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The driver's own init(): parses the board file and opens the bus.
    CommandResult init();
    CommandResult run(const Command& command);

private:
    explicit Runner(const RunnerSetup& setup);
    template <typename Call>
    CommandResult call(const std::string& name, Op op, Call&& body);
    void save(const Command& command, CommandResult& result);
    int readChip(unsigned short* value);
    void readBack(const Command& command, CommandResult& result);
    std::string reason(const std::string& what, std::optional<int> driverStatus) const;
    std::vector<TraceEntry> traceSinceTaken() const;

    RunnerSetup setup_;
    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
    ze::ic::VCOMICDriver* driver_ = nullptr;  // null: another library's driver
    const ChipInfo* chip_ = nullptr;
    bool registered_ = false;
    // The backend's trace is bounded and drops its oldest entries, so new
    // ones are told by their sequence number, not by their place in it.
    std::uint64_t nextTrace_ = 0;
};

}  // namespace vcomctl
