#pragma once
// The driver brought up exactly as the HAL framework does it: the IC wrapper
// on the HAL core's registry, its driver created and registered, and the
// driver fetched back from the registry through the VCOM interface.

#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/vcom.h>

namespace ze {
namespace ic {
class Vcom;
class VCOMICDriver;
}  // namespace ic
}  // namespace ze

namespace vcomctl {

class DriverSession {
public:
    // The number the driver is registered under.
    static constexpr int kDriverId = 0;

    // nullptr, with *error set, when a step fails.
    static std::unique_ptr<DriverSession> open(unsigned int i2cBus, std::string* error);
    // Unregisters the driver.
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    ze::hal::Vcom& vcom() const { return *vcom_; }
    // The same object with its parsed board fields; nullptr if the registry
    // handed out a driver of another library.
    ze::ic::VCOMICDriver* driver() const;

private:
    DriverSession() = default;

    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
    bool registered_ = false;
};

}  // namespace vcomctl
