#pragma once
// Applies commands to a brought-up driver, one at a time, and tells for each
// whether it worked: from the status the driver returns, from its error
// messages where it returns none (the pattern), and for a save from reading
// the value back.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <ze/hal/vcom.h>
#include <ze/vcomcal/engine.h>

#include "driver_log.h"
#include "platform_setup.h"
#include "report.h"
#include "stop_control.h"
#include "trace.h"

namespace ze {
namespace ic {
class VCOMICDriver;
}  // namespace ic
}  // namespace ze

namespace vcomctl {

class Runner {
public:
    struct Setup {
        ze::hal::Vcom& vcom;
        ze::ic::VCOMICDriver* driver;  // null: no read, no config fields
        DriverLog& log;
        TraceTap& tap;
        PlatformSetup* platform;  // null: no configuration hints, no kept state
        bool keepTrace = false;
        bool verify = true;
        const CalibrateOptions* calibrate = nullptr;
        const StopControl* stop = nullptr;  // a calibration ends early once it asks for a stop
    };
    // Brackets each driver call, e.g. for a progress display.
    struct Hooks {
        std::function<void(const std::string& name)> begin;
        std::function<void()> end;
        // A step the tool adds to a command, for -v.
        std::function<void(const std::string& text)> note;
    };

    explicit Runner(Setup setup, Hooks hooks = {});

    // The driver's own init(): parses the board file and opens the bus.
    CommandResult init();
    CommandResult run(const Command& command);

private:
    template <typename Call>
    CommandResult call(const std::string& name, Op op, Call&& body);
    int readChip(unsigned short* value);
    bool updateBeforeSave(const Command& command, CommandResult& result);
    void explainStoreFailure(const Command& command, CommandResult& result);
    void readBack(const Command& command, CommandResult& result);
    std::string reason(const std::string& what, std::optional<int> driverStatus,
                       const std::vector<TraceEntry>& entries) const;

    Setup setup_;
    Hooks hooks_;
};

// The stored copy of the RT6966's value: "vcom_value" in the environment
// store ROOT/etc/fw_env.config. nullopt, with *error set, when it cannot be
// read or holds no number.
std::optional<unsigned int> storedVcomValue(std::string* error);
// Why the environment file cannot be written, or "".
std::string envStoreProblem();

}  // namespace vcomctl
