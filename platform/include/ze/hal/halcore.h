#pragma once

#include <boost/shared_ptr.hpp>

#include <ze/hal/driver.h>
#include <ze/hal/registry.h>

namespace ze {
namespace hal {

// The HAL framework's central object. It owns the driver registry; at start
// it publishes one I2C driver (class 15) per bus the SoC backend offers,
// under the bus number.
class ZE_PLATFORM_EXPORT HalCore {
public:
    HalCore();
    virtual ~HalCore();

    virtual boost::shared_ptr<Driver> getDriver(int driverId, driverClass_enum driverClass);
    boost::shared_ptr<Registry> getRegistry() const { return registry_; }

    HalCore(const HalCore&) = delete;
    HalCore& operator=(const HalCore&) = delete;

private:
    boost::shared_ptr<Registry> registry_;
};

}  // namespace hal
}  // namespace ze

// The process-wide HAL core; never empty.
ZE_PLATFORM_EXPORT boost::shared_ptr<ze::hal::HalCore> getZeHalCore();
