#include "icinit.h"

#include <cstring>

#include <ltguard.h>
#include <ze/hal/halcore.h>

#include "vcomic/VCOMICdriver.h"
#include "vcomic/vcom_log.h"

namespace ze {
namespace ic {
namespace {

constexpr const char* kIcName = "Vcom";

}  // namespace

Vcom::Vcom(boost::shared_ptr<ze::hal::Registry> halRegistry, int vcomDriverId, int iicId,
           VcomChips_t chips)
    : ze::hal::ICWrapper(kIcName), registry(halRegistry), driverId(vcomDriverId), vcomChip(chips)
{
    {
        boost::shared_ptr<ze::hal::Driver> found =
            getZeHalCore()->getDriver(iicId, ze::hal::DRIVER_CLASS_IIC);
        iic = boost::dynamic_pointer_cast<ze::hal::IIC>(found);
    }
    const int err = pthread_mutex_init(&mutex, nullptr);
    if (err != 0) {
        VCOM_ERR("Error initializing mutex for Vcom IC Wrapper (%s)!\n", std::strerror(err));
    }
}

Vcom::~Vcom()
{
    pthread_mutex_destroy(&mutex);
    driver.reset();
    iic.reset();
    registry.reset();
}

int Vcom::checkForHardware()
{
    return 0;
}

int Vcom::initHardware()
{
    ltGuard guard(&mutex);
    switch (vcomChip) {
        case VCOM_CHIPS_NONE:
            return 0;
        case VCOM_CHIPS_I2C:
            // Built completely before `driver` changes: a throwing allocation
            // leaves the wrapper as it was. registerDriver reads `driver` without
            // the mutex, so the replacement must be atomic.
            boost::atomic_store(&driver,
                                boost::shared_ptr<VCOMICDriver>(new VCOMICDriver(driverId, iic)));
            return 0;
        default:
            return -1;
    }
}

int Vcom::releaseHardware()
{
    return 0;
}

int Vcom::registerDriver()
{
    // No lock here: a copy taken atomically stays valid whatever initHardware does meanwhile.
    const boost::shared_ptr<VCOMICDriver> current = boost::atomic_load(&driver);
    if (!current) return -1;
    if (!registry) {
        VCOM_ERR("Registering Vcom driver failed because no HALRegistry is available!\n");
        return -1;
    }
    registry->registerDriver(driverId, current);
    return 0;
}

int Vcom::unregisterDriver()
{
    ltGuard guard(&mutex);
    if (!driver) return -1;
    if (!registry) {
        VCOM_ERR("Unregistering Vcom driver failed because no HALUnregistry is available!\n");
        return -1;
    }
    registry->unregisterDriver(driverId, driver->getDriverClass());
    return 0;
}

}  // namespace ic
}  // namespace ze
