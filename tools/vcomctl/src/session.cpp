#include "session.h"

#include <ze/hal/halcore.h>

#include "icinit.h"
#include "vcomic/VCOMICdriver.h"

namespace vcomctl {

std::unique_ptr<DriverSession> DriverSession::open(unsigned int i2cBus, std::string* error)
{
    std::unique_ptr<DriverSession> session(new DriverSession);
    boost::shared_ptr<ze::hal::Registry> registry = getZeHalCore()->getRegistry();
    session->wrapper_ = std::make_unique<ze::ic::Vcom>(
        registry, kDriverId, static_cast<int>(i2cBus), ze::ic::VCOM_CHIPS_I2C);
    if (session->wrapper_->initHardware() != 0) {
        *error = "the VCOM wrapper did not create its driver (initHardware failed)";
        return nullptr;
    }
    if (session->wrapper_->registerDriver() != 0) {
        *error = "the VCOM driver could not be registered with the HAL registry";
        return nullptr;
    }
    session->registered_ = true;
    boost::shared_ptr<ze::hal::Driver> found =
        registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM);
    session->vcom_ = boost::dynamic_pointer_cast<ze::hal::Vcom>(found);
    if (!session->vcom_) {
        *error =
            "the HAL registry returned no VCOM driver under number " + std::to_string(kDriverId);
        return nullptr;
    }
    return session;
}

DriverSession::~DriverSession()
{
    vcom_.reset();
    if (registered_) wrapper_->unregisterDriver();
}

ze::ic::VCOMICDriver* DriverSession::driver() const
{
    return dynamic_cast<ze::ic::VCOMICDriver*>(vcom_.get());
}

}  // namespace vcomctl
