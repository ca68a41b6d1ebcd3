#pragma once
// Applies commands to a brought-up driver, one at a time, and tells for each
// whether it worked: from the result where the driver gives one, from its
// error messages where it does not (the read, the pattern).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <ze/hal/vcom.h>

#include "platform_setup.h"
#include "trace.h"

namespace vcomctl {

struct CommandResult {
    std::string name;  // "init", "read", "update 0x80", ...
    Op op = Op::Read;
    bool ok = true;
    std::string error;                   // one line when !ok
    int status = 0;                      // init, update, save: the driver's result
    unsigned int value = 0;              // read: the value; update, save: the value sent
    std::optional<DriverFields> fields;  // config
    bool traced = false;
    std::vector<TraceEntry> trace;
    std::uint64_t traceOriginUs = 0;
};

class Runner {
public:
    // Brackets each driver call, e.g. for a progress display.
    struct Hooks {
        std::function<void(const std::string& name)> begin;
        std::function<void()> end;
    };

    // `driver` and `tap` may be null: no config fields, no trace.
    Runner(ze::hal::Vcom& vcom, const ze::ic::VCOMICDriver* driver, DriverLog& log,
           const TraceTap* tap, Hooks hooks = {});

    // The driver's own init(): parses the board file and opens the bus.
    CommandResult init();
    CommandResult run(const Command& command);

private:
    template <typename Call>
    CommandResult call(const std::string& name, Op op, Call&& body);

    ze::hal::Vcom& vcom_;
    const ze::ic::VCOMICDriver* driver_;
    DriverLog& log_;
    const TraceTap* tap_;
    Hooks hooks_;
};

// The reason for a failed call, with the driver's result when there is one
// and the transport's status when it told one:
// "read failed (I2C status -6: No such device or address)"
// "update 0x80 failed (status -1; I2C status -121: Remote I/O error)"
std::string failureReason(const std::string& what, std::optional<int> driverStatus,
                          const std::vector<DriverMessage>& messages);

}  // namespace vcomctl
