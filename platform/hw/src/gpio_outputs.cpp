#include "gpio_outputs.h"

#include <cerrno>
#include <cstring>

#include "log.h"

namespace ze {
namespace platform {
namespace hw {
namespace {

const char* requestHint(int status)
{
    switch (-status) {
        case ENOENT:
        case ENODEV:
            return "no such GPIO chip; gpiodetect lists them";
        case EINVAL:
            return "the chip has no line at this offset; gpioinfo lists them";
        case EBUSY:
            return "another consumer holds the line; gpioinfo names it";
        case EACCES:
        case EPERM:
            return "no permission: run as root or grant access to the chip";
        default:
            return "check the [gpio] entry of zeplatform.conf";
    }
}

}  // namespace

GpioOutputs::GpioOutputs(GpioChipAccess& access, std::map<unsigned int, GpioLineAddress> lines)
    : access_(access), lines_(std::move(lines))
{
}

int GpioOutputs::set(unsigned int gpio, unsigned int level)
{
    const auto line = lines_.find(gpio);
    if (line == lines_.end()) {
        ZE_LOG_ERROR(
            "GPIO %u is not mapped to a line (add '%u = <chip>:<offset>' under [gpio] "
            "in zeplatform.conf)",
            gpio, gpio);
        return -ENOENT;
    }
    const int value = level != 0 ? 1 : 0;
    const auto handle = handles_.find(gpio);
    if (handle == handles_.end()) {
        const int requested = access_.requestOutput(line->second.chip, line->second.offset,
                                                    LinuxBackend::kConsumer, value);
        if (requested < 0) {
            return fail(gpio, line->second, requested, "cannot request it as an output",
                        requestHint(requested));
        }
        handles_.emplace(gpio, requested);
        return 0;
    }
    const int status = access_.setValue(handle->second, value);
    if (status < 0) {
        return fail(gpio, line->second, status,
                    value != 0 ? "cannot drive it high" : "cannot drive it low",
                    "is the chip still there?");
    }
    return 0;
}

int GpioOutputs::fail(unsigned int gpio, const GpioLineAddress& line, int status, const char* what,
                      const char* hint) const
{
    ZE_LOG_ERROR("GPIO %u (line %s:%u): %s: %s (%s)", gpio, line.chip.c_str(), line.offset, what,
                 std::strerror(-status), hint);
    return status;
}

}  // namespace hw
}  // namespace platform
}  // namespace ze
