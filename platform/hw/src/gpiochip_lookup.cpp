#include "gpiochip_lookup.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace ze {
namespace platform {
namespace hw {
namespace {

constexpr const char* kDeviceDir = "/dev/";
constexpr const char* kNumberedChip = "/dev/gpiochip";

bool isNumber(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

std::string gpioChipPath(const std::string& chip, const std::function<GpioChipLabels()>& labels)
{
    if (isNumber(chip))
        return kNumberedChip + std::to_string(std::strtoul(chip.c_str(), nullptr, 10));
    for (const auto& [path, label] : labels()) {
        if (label == chip) return path;
    }
    if (chip.rfind(kDeviceDir, 0) == 0) return chip;
    return kDeviceDir + chip;
}

}  // namespace hw
}  // namespace platform
}  // namespace ze
