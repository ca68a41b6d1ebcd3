#include <ze/platform/linux_backend.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include <ze/platform/paths.h>

#include "freerun_setting.h"
#include "gpio_outputs.h"
#include "i2c_bus.h"
#include "log.h"

namespace ze {
namespace platform {
namespace {

}  // namespace

struct LinuxBackend::Impl {
    Impl(LinuxBackendConfig config, std::shared_ptr<SystemCalls> systemCalls,
         std::shared_ptr<GpioChipAccess> gpioAccess)
        : calls(std::move(systemCalls)),
          gpio(std::move(gpioAccess)),
          busNumbers(std::move(config.buses)),
          gpios(*gpio, std::move(config.gpios)),
          freerun(std::move(config.freerunFile))
    {
    }

    // The bus when the configuration offers it.
    hw::I2cBus* bus(unsigned int number)
    {
        const auto open = buses.find(number);
        if (open != buses.end()) return open->second.get();
        for (const unsigned int offered : busNumbers) {
            if (offered == number) {
                return buses.emplace(number, std::make_unique<hw::I2cBus>(*calls, number))
                    .first->second.get();
            }
        }
        std::string offered;
        for (const unsigned int n : busNumbers)
            offered += (offered.empty() ? "" : ", ") + std::to_string(n);
        ZE_LOG_ERROR("I2C bus %u is not configured: 'buses' under [i2c] in %s lists %s", number,
                     resolvePath(kPlatformConfigFile).c_str(),
                     offered.empty() ? "none" : offered.c_str());
        return nullptr;
    }

    mutable std::mutex mutex;
    // Declared before their users, so that they outlive them.
    const std::shared_ptr<SystemCalls> calls;
    const std::shared_ptr<GpioChipAccess> gpio;
    const std::vector<unsigned int> busNumbers;
    std::map<unsigned int, std::unique_ptr<hw::I2cBus>> buses;
    hw::GpioOutputs gpios;
    hw::FreerunSetting freerun;
};

LinuxBackend::LinuxBackend(LinuxBackendConfig config)
    : LinuxBackend(std::move(config), realSystemCalls(), makeLibgpiodAccess())
{
}

LinuxBackend::LinuxBackend(LinuxBackendConfig config, std::shared_ptr<SystemCalls> calls,
                           std::shared_ptr<GpioChipAccess> gpio)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(calls), std::move(gpio)))
{
}

LinuxBackend::~LinuxBackend() = default;

std::vector<unsigned int> LinuxBackend::buses() const
{
    return impl_->busNumbers;
}

int LinuxBackend::i2cOpen(unsigned int bus, unsigned int mode)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2COpen, bus);
    entry.value = static_cast<int>(mode);
    hw::I2cBus* const i2c = impl_->bus(bus);
    return recorder_.finish(entry, i2c != nullptr ? i2c->open() : -ENODEV);
}

int LinuxBackend::i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                           unsigned int length)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2CWrite, bus, target);
    if (data == nullptr && length > 0) return recorder_.finish(entry, -EINVAL);
    if (recorder_.enabled()) entry.data.assign(data, data + length);
    hw::I2cBus* const i2c = impl_->bus(bus);
    if (i2c == nullptr) return recorder_.finish(entry, -ENODEV);
    const int status = i2c->write(target, data, length);
    entry.transaction = i2c->lastTransaction();
    return recorder_.finish(entry, status);
}

int LinuxBackend::i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                          unsigned char* buffer)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::I2CRead, bus, target);
    if (buffer == nullptr && length > 0) return recorder_.finish(entry, -EINVAL);
    hw::I2cBus* const i2c = impl_->bus(bus);
    if (i2c == nullptr) return recorder_.finish(entry, -ENODEV);
    const int status = i2c->read(target, buffer, length);
    entry.transaction = i2c->lastTransaction();
    if (status == 0 && recorder_.enabled()) entry.data.assign(buffer, buffer + length);
    return recorder_.finish(entry, status);
}

int LinuxBackend::gpioSetValue(unsigned int gpio, unsigned int level)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::GpioSetValue, gpio);
    entry.value = static_cast<int>(level);
    return recorder_.finish(entry, impl_->gpios.set(gpio, level));
}

int LinuxBackend::displayGetFreerunVfreq(int* setting)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::DisplayGetFreerunVfreq, 0);
    if (setting == nullptr) return recorder_.finish(entry, -EINVAL);
    const int status = impl_->freerun.get(setting);
    if (status == 0) entry.value = *setting;
    return recorder_.finish(entry, status);
}

int LinuxBackend::displaySetFreerunVfreq(int setting)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    TraceEntry entry = recorder_.begin(Call::DisplaySetFreerunVfreq, 0);
    entry.value = setting;
    return recorder_.finish(entry, impl_->freerun.set(setting));
}

}  // namespace platform
}  // namespace ze
