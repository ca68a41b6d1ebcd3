#pragma once
// GPIO numbers driven as outputs on the lines the platform configuration maps them to.

#include <map>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace platform {
namespace hw {

// Not thread-safe.
class GpioOutputs {
public:
    GpioOutputs(GpioChipAccess& access, std::map<unsigned int, GpioLineAddress> lines);

    // Requests the line on its first set and keeps it. Any non-zero level drives it high.
    int set(unsigned int gpio, unsigned int level);

private:
    int fail(unsigned int gpio, const GpioLineAddress& line, int status, const char* what,
             const char* hint) const;

    GpioChipAccess& access_;
    const std::map<unsigned int, GpioLineAddress> lines_;
    std::map<unsigned int, int> handles_;  // requested lines by GPIO number
};

}  // namespace hw
}  // namespace platform
}  // namespace ze
