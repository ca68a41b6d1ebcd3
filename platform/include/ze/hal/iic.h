#pragma once

#include <ze/hal/driver.h>

namespace ze {
namespace hal {

// The HAL's I2C driver: one per I2C bus the platform offers (class 15).
class ZE_PLATFORM_EXPORT IIC : public Driver {
public:
    explicit IIC(unsigned int bus);
    ~IIC() override;

    unsigned int getBus() const { return bus_; }

private:
    unsigned int bus_;
};

}  // namespace hal
}  // namespace ze
