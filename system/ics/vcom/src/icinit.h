#pragma once

#include <pthread.h>

#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/icwrapper.h>
#include <ze/hal/iic.h>
#include <ze/hal/registry.h>

#include "vcom_export.h"

namespace ze {
namespace ic {

class VCOMICDriver;

// Which VCOM handling the HAL framework asks the wrapper for.
enum VcomChips_t : int {
    VCOM_CHIPS_I2C = 0,   // this library's I2C VCOM chip driver
    VCOM_CHIPS_NONE = 1,  // no driver; initHardware still succeeds
};

// The IC wrapper through which the HAL framework takes the VCOM driver into
// service: it creates the driver and hands it to the registry.
class ZE_IC_EXPORT Vcom : public ze::hal::ICWrapper {
public:
    Vcom(boost::shared_ptr<ze::hal::Registry> registry, int driverId, int iicId,
         VcomChips_t vcomChip);
    ~Vcom() override;

    int checkForHardware() override;
    int initHardware() override;
    int releaseHardware() override;
    int registerDriver() override;
    int unregisterDriver() override;

    // The wrapper's state is open to the HAL framework's diagnostics.
    boost::shared_ptr<ze::hal::Registry> registry;
    int driverId;
    boost::shared_ptr<ze::hal::IIC> iic;
    pthread_mutex_t mutex;
    boost::shared_ptr<VCOMICDriver> driver;
    VcomChips_t vcomChip;
};

}  // namespace ic
}  // namespace ze
