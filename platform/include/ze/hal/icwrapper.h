#pragma once

#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace hal {

// Base of IC wrappers: the objects through which the HAL framework takes an
// IC library into service.
class ZE_PLATFORM_EXPORT ICWrapper {
public:
    explicit ICWrapper(std::string icName);
    virtual ~ICWrapper();

    virtual int checkForHardware() = 0;
    virtual int initHardware() = 0;
    virtual int releaseHardware() = 0;
    virtual int registerDriver() = 0;
    virtual int unregisterDriver() = 0;
    virtual std::string getICName();

    ICWrapper(const ICWrapper&) = delete;
    ICWrapper& operator=(const ICWrapper&) = delete;

private:
    std::string icName_;
};

}  // namespace hal
}  // namespace ze
