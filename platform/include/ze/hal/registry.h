#pragma once

#include <map>
#include <mutex>
#include <utility>

#include <boost/shared_ptr.hpp>

#include <ze/hal/driver.h>

namespace ze {
namespace hal {

// Table of registered drivers, keyed by driver number and class. Thread-safe.
class ZE_PLATFORM_EXPORT Registry {
public:
    Registry();
    virtual ~Registry();

    // Records the driver under its number and its own class, replacing an
    // entry with the same number and class. Returns 0, or -1 for an empty driver.
    virtual int registerDriver(int driverId, boost::shared_ptr<Driver> driver);
    // Drops the entry. Returns 0, or -1 when there was none.
    virtual int unregisterDriver(int driverId, driverClass_enum driverClass);
    // The driver, or an empty pointer when there is none.
    virtual boost::shared_ptr<Driver> getDriver(int driverId, driverClass_enum driverClass) const;
    std::size_t size() const;

    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<int, int>, boost::shared_ptr<Driver>> drivers_;
};

}  // namespace hal
}  // namespace ze
