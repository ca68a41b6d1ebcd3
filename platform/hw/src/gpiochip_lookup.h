#pragma once
// Which GPIO character device a [gpio] entry of zeplatform.conf names, found
// the way libgpiod 1.x's gpiod_chip_open_lookup() finds it, for libgpiod
// releases that only open a chip by its path.

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ze {
namespace platform {
namespace hw {

// The device path and label of each GPIO chip of the system.
using GpioChipLabels = std::vector<std::pair<std::string, std::string>>;

// A number N is /dev/gpiochipN. Anything else is the chip carrying that label
// if there is one (`labels` is asked only then), else a path starting with
// /dev/ as written, else the device of that name in /dev.
std::string gpioChipPath(const std::string& chip, const std::function<GpioChipLabels()>& labels);

}  // namespace hw
}  // namespace platform
}  // namespace ze
