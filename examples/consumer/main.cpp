// The HAL framework's bring-up of the VCOM driver, as a firmware component
// does it against the installed headers and libraries: the wrapper creates
// the driver and registers it, and the registry hands it out again.
#include <icinit.h>
#include <vcomic/VCOMICdriver.h>

#include <boost/make_shared.hpp>
#include <cstdio>

namespace {
constexpr int kDriverId = 0;
constexpr int kIicBus = 1;
}  // namespace

int main()
{
    auto registry = boost::make_shared<ze::hal::Registry>();
    ze::ic::Vcom wrapper(registry, kDriverId, kIicBus, ze::ic::VCOM_CHIPS_I2C);
    if (wrapper.initHardware() != 0 || wrapper.registerDriver() != 0) {
        std::fprintf(stderr, "vcom_consumer: the VCOM wrapper did not register its driver\n");
        return 1;
    }
    auto driver = boost::dynamic_pointer_cast<ze::ic::VCOMICDriver>(
        registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
    if (!driver) {
        std::fprintf(stderr, "vcom_consumer: the registry has no VCOM driver\n");
        return 1;
    }
    std::printf("vcom_consumer: VCOM driver registered\n");
    return 0;
}
