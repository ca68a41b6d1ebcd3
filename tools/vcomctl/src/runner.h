#pragma once
// Applies commands to a brought-up driver, one at a time, and tells for each
// whether it worked: from the result where the driver gives one, from its
// error messages where it does not (the read, the pattern), and for a save
// from reading the value back.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <ze/hal/vcom.h>
#include <ze/vcomcal/engine.h>

#include "platform_setup.h"
#include "stop_control.h"
#include "trace.h"

namespace vcomctl {

struct CommandResult {
    std::string name;  // "init", "read", "update 0x80", ...
    Op op = Op::Read;
    bool ok = true;
    std::string error;                     // one line when !ok
    std::optional<int> status;             // init, update, save: the driver's result
    std::optional<unsigned int> value;     // read: the value; update, save: the value sent
    std::optional<unsigned int> readBack;  // a verified save: what was read back
    std::optional<DriverFields> fields;    // config
    std::vector<TraceEntry> trace;         // with --trace
    std::optional<ze::vcomcal::CalibrationReport> calibration;
};

class Runner {
public:
    struct Setup {
        ze::hal::Vcom& vcom;
        const ze::ic::VCOMICDriver* driver;  // null: no config fields
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
