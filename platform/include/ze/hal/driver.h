#pragma once

#include <ze/platform/export.h>

namespace ze {
namespace hal {

enum driverClass_enum : int {
    DRIVER_CLASS_NONE = 0,
    DRIVER_CLASS_GPIO = 3,
    DRIVER_CLASS_DISPLAY = 7,
    DRIVER_CLASS_IIC = 15,
    DRIVER_CLASS_VCOM = 42,
};

// Base of every HAL driver.
class ZE_PLATFORM_EXPORT Driver {
public:
    explicit Driver(driverClass_enum driverClass);
    virtual ~Driver();
    virtual driverClass_enum getDriverClass() const;

    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

private:
    driverClass_enum driverClass_;
};

}  // namespace hal
}  // namespace ze
