#include <qel/soc.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ze/platform/linux_backend.h>
#include <ze/platform/soc_backend.h>

#include "log.h"

namespace ze {
namespace platform {
namespace {

struct BackendSlot {
    std::mutex mutex;
    std::shared_ptr<SocBackend> backend;
};

BackendSlot& slot()
{
    static BackendSlot* const s = new BackendSlot;
    return *s;
}

// Stands in for the hardware when the platform configuration is missing or
// broken: every call fails, so nothing mistakes a fake chip for the panel's.
class BrokenConfigBackend : public SocBackend {
public:
    const char* name() const override { return "unconfigured"; }
    std::vector<unsigned int> buses() const override { return {}; }
    int i2cOpen(unsigned int, unsigned int) override { return -ENODEV; }
    int i2cWrite(unsigned int, const I2cTarget&, const unsigned char*, unsigned int) override
    {
        return -ENODEV;
    }
    int i2cRead(unsigned int, const I2cTarget&, unsigned int, unsigned char*) override
    {
        return -ENODEV;
    }
    int gpioSetValue(unsigned int, unsigned int) override { return -ENODEV; }
    int displayGetFreerunVfreq(int*) override { return -ENODEV; }
    int displaySetFreerunVfreq(int) override { return -ENODEV; }
};

// $ZE_PLATFORM_ROOT/etc/zeplatform.conf selects the backend. There is no
// default: a board without a configuration has no SoC to talk to.
std::shared_ptr<SocBackend> chooseBackend()
{
    std::string error;
    if (std::shared_ptr<SocBackend> chosen = makeConfiguredBackend(&error)) return chosen;
    ZE_LOG_ERROR("%s; every SoC call will fail until the platform configuration is fixed",
                 error.c_str());
    return std::make_shared<BrokenConfigBackend>();
}

std::shared_ptr<SocBackend> currentBackend()
{
    BackendSlot& s = slot();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.backend) return s.backend;
    }
    // Chosen unlocked: choosing reads files and may print.
    std::shared_ptr<SocBackend> chosen = chooseBackend();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.backend) s.backend = std::move(chosen);
    return s.backend;
}

}  // namespace

SocBackend::~SocBackend() = default;

SocBackend& socBackend()
{
    return *currentBackend();
}

void setSocBackend(std::shared_ptr<SocBackend> backend)
{
    BackendSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.backend.swap(backend);
    // The previous backend, if this was its last owner, goes after unlocking.
}

}  // namespace platform
}  // namespace ze

using ze::platform::currentBackend;

// Each call holds the backend for its duration, so replacing the backend
// while a call runs is safe. `flags` belongs to the caller and is not used.

extern "C" int QEL_I2COpen(unsigned int bus, unsigned int mode)
{
    return currentBackend()->i2cOpen(bus, mode);
}

extern "C" int QEL_I2CWrite(unsigned int bus, I2cTarget* target, unsigned char* data,
                            unsigned int length, unsigned int* flags)
{
    if (target == nullptr || (data == nullptr && length > 0)) return -EINVAL;
    const I2cTarget copy = *target;
    return currentBackend()->i2cWrite(bus, copy, data, length);
}

extern "C" int QEL_I2CRead(unsigned int bus, I2cTarget* target, unsigned int length,
                           unsigned char* buffer, unsigned int* flags)
{
    if (target == nullptr || (buffer == nullptr && length > 0)) return -EINVAL;
    const I2cTarget copy = *target;
    return currentBackend()->i2cRead(bus, copy, length, buffer);
}

extern "C" int QEL_GPIOSetValue(unsigned int gpio, unsigned int level)
{
    return currentBackend()->gpioSetValue(gpio, level);
}

extern "C" int QEL_DisplayGetFreerunVfreq(int* setting)
{
    if (setting == nullptr) return -EINVAL;
    return currentBackend()->displayGetFreerunVfreq(setting);
}

extern "C" int QEL_DisplaySetFreerunVfreq(int setting)
{
    return currentBackend()->displaySetFreerunVfreq(setting);
}
