#include "runner.h"

#include <cstring>

#include "vcomic/VCOMICdriver.h"

namespace vcomctl {

std::string failureReason(const std::string& what, std::optional<int> driverStatus,
                          const std::vector<DriverMessage>& messages)
{
    const std::optional<int> transfer = failedTransferStatus(messages);
    std::string details;
    if (driverStatus && (!transfer || *transfer != *driverStatus)) {
        details = "status " + std::to_string(*driverStatus);
    }
    if (transfer) {
        if (!details.empty()) details += "; ";
        details += "I2C status " + std::to_string(*transfer);
        if (*transfer < 0) details += std::string(": ") + std::strerror(-*transfer);
    }
    return details.empty() ? what + " failed" : what + " failed (" + details + ")";
}

Runner::Runner(ze::hal::Vcom& vcom, const ze::ic::VCOMICDriver* driver, DriverLog& log,
               const TraceTap* tap, Hooks hooks)
    : vcom_(vcom), driver_(driver), log_(log), tap_(tap), hooks_(std::move(hooks))
{
}

template <typename Call>
CommandResult Runner::call(const std::string& name, Op op, Call&& body)
{
    CommandResult result;
    result.name = name;
    result.op = op;
    TraceTap::Mark mark;
    if (tap_ != nullptr) mark = tap_->mark();
    log_.startCall();
    if (hooks_.begin) hooks_.begin(name);
    body(result);
    if (hooks_.end) hooks_.end();
    if (tap_ != nullptr) {
        result.traced = true;
        result.trace = tap_->since(mark);
        result.traceOriginUs = mark.startUs;
    }
    return result;
}

CommandResult Runner::init()
{
    return call("init", Op::Init, [this](CommandResult& result) {
        result.status = vcom_.init();
        if (result.status != 0) {
            result.ok = false;
            result.error = "driver initialization failed";
            if (driver_ != nullptr) {
                result.error += ": cannot open I2C bus " + std::to_string(driver_->i2cBus);
            }
            result.error += " (status " + std::to_string(result.status);
            if (result.status < 0)
                result.error += std::string(": ") + std::strerror(-result.status);
            result.error += ")";
        }
    });
}

CommandResult Runner::run(const Command& command)
{
    const std::string name = describe(command);
    return call(name, command.op, [&](CommandResult& result) {
        switch (command.op) {
            case Op::Read: {
                result.value = vcom_.u1DrvReadVcom();
                const std::vector<DriverMessage> messages = log_.callMessages();
                for (const DriverMessage& message : messages) {
                    if (isReadFailure(message)) {
                        result.ok = false;
                        result.error = failureReason("read", std::nullopt, messages);
                        break;
                    }
                }
                break;
            }
            case Op::Update:
            case Op::Save:
                result.value = command.value;
                result.status = command.op == Op::Update ? vcom_.u1DrvUpdataVcom(command.value)
                                                         : vcom_.u1DrvSaveVcom(command.value);
                if (result.status != 0) {
                    result.ok = false;
                    result.error = failureReason(name, result.status, log_.callMessages());
                }
                break;
            case Op::Pattern: {
                // Always 1; a refused refresh-rate switch is told only in the log.
                vcom_.Get_Vcom_bmp("vcomctl", command.on ? 1 : 0);
                for (const DriverMessage& message : log_.callMessages()) {
                    if (isError(message)) {
                        result.ok = false;
                        result.error = name + " failed: " + messageBody(message.text);
                        break;
                    }
                }
                break;
            }
            case Op::Config:
                if (driver_ != nullptr) {
                    result.fields = fieldsOf(*driver_);
                } else {
                    result.ok = false;
                    result.error = "config: the registered driver is not this library's";
                }
                break;
            case Op::Init:
            case Op::Chips:
                break;
        }
    });
}

}  // namespace vcomctl
