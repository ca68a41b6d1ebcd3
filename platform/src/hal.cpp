#include <ze/hal/driver.h>
#include <ze/hal/halcore.h>
#include <ze/hal/icwrapper.h>
#include <ze/hal/iic.h>
#include <ze/hal/registry.h>
#include <ze/hal/vcom.h>

#include <boost/make_shared.hpp>

#include <ze/platform/soc_backend.h>

namespace ze {
namespace hal {

// Destructors are defined here, out of line, so that the typeinfo and vtables
// of these classes live in libzeplatform.so alone: a dynamic_cast in another
// module then sees the same types.

Driver::Driver(driverClass_enum driverClass) : driverClass_(driverClass) {}
Driver::~Driver() = default;
driverClass_enum Driver::getDriverClass() const
{
    return driverClass_;
}

Vcom::Vcom() : Driver(DRIVER_CLASS_VCOM) {}
Vcom::~Vcom() = default;

IIC::IIC(unsigned int bus) : Driver(DRIVER_CLASS_IIC), bus_(bus) {}
IIC::~IIC() = default;

ICWrapper::ICWrapper(std::string icName) : icName_(std::move(icName)) {}
ICWrapper::~ICWrapper() = default;
std::string ICWrapper::getICName()
{
    return icName_;
}

Registry::Registry() = default;
Registry::~Registry() = default;

int Registry::registerDriver(int driverId, boost::shared_ptr<Driver> driver)
{
    if (!driver) return -1;
    const std::pair<int, int> key(driverId, driver->getDriverClass());
    boost::shared_ptr<Driver> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boost::shared_ptr<Driver>& slot = drivers_[key];
        replaced.swap(slot);
        slot = std::move(driver);
    }
    // `replaced` may hold the last reference: its destructor runs unlocked.
    return 0;
}

int Registry::unregisterDriver(int driverId, driverClass_enum driverClass)
{
    boost::shared_ptr<Driver> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = drivers_.find(std::make_pair(driverId, static_cast<int>(driverClass)));
        if (it == drivers_.end()) return -1;
        dropped.swap(it->second);
        drivers_.erase(it);
    }
    return 0;
}

boost::shared_ptr<Driver> Registry::getDriver(int driverId, driverClass_enum driverClass) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = drivers_.find(std::make_pair(driverId, static_cast<int>(driverClass)));
    return it == drivers_.end() ? boost::shared_ptr<Driver>() : it->second;
}

std::size_t Registry::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return drivers_.size();
}

HalCore::HalCore() : registry_(boost::make_shared<Registry>())
{
    for (unsigned int bus : ze::platform::socBackend().buses()) {
        registry_->registerDriver(static_cast<int>(bus), boost::make_shared<IIC>(bus));
    }
}

HalCore::~HalCore() = default;

boost::shared_ptr<Driver> HalCore::getDriver(int driverId, driverClass_enum driverClass)
{
    return registry_->getDriver(driverId, driverClass);
}

}  // namespace hal
}  // namespace ze

boost::shared_ptr<ze::hal::HalCore> getZeHalCore()
{
    // Never destroyed: at exit it may still hold drivers whose code lives in
    // libraries that are already unloaded.
    static const boost::shared_ptr<ze::hal::HalCore>* const core =
        new boost::shared_ptr<ze::hal::HalCore>(boost::make_shared<ze::hal::HalCore>());
    return *core;
}
