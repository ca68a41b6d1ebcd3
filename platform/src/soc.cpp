#include <qel/soc.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include <tvconfig/configutil.h>
#include <ze/platform/paths.h>
#include <ze/platform/soc_backend.h>
#include <ze/sim/board.h>

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

// The backend that drives the SoC's own I2C controllers and GPIO lines
// (i2c-dev, GPIO character device). Not part of this build yet.
std::shared_ptr<SocBackend> makeLinuxBackend()
{
    return nullptr;
}

std::shared_ptr<SocBackend> chooseBackend()
{
    // $ZE_PLATFORM_ROOT/etc/zeplatform.conf:
    //   [soc]
    //   backend = sim | linux
    const char* const configFile = "/etc/zeplatform.conf";
    char name[64] = "";
    tvConfig::ConfigUtil::instance()->getIniValue(configFile, "[soc]", "backend", name,
                                                  sizeof name);
    const std::string wanted = name;
    if (wanted == "linux") {
        if (std::shared_ptr<SocBackend> hardware = makeLinuxBackend()) return hardware;
        ZE_LOG_ERROR(
            "%s selects the linux SoC backend, which this build lacks; using the "
            "simulated board",
            resolvePath(configFile).c_str());
    } else if (!wanted.empty() && wanted != "sim") {
        ZE_LOG_ERROR("%s: unknown SoC backend '%s'; using the simulated board",
                     resolvePath(configFile).c_str(), name);
    }
    return ze::sim::makeDefaultBoard();
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
