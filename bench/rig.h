#pragma once
// A simulated panel of one chip under a temporary platform root, its driver
// brought up as the HAL framework brings it up, and the operations timed.

#include <memory>
#include <stdexcept>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/halcore.h>
#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/sim/rig.h>

#include "icinit.h"

namespace ze::bench {

// Within every chip's update and save range.
constexpr unsigned short kValue = 0x40;

// A read fails when it does not give back the value the rig writes.
struct Op {
    const char* name;
    bool (*run)(ze::hal::Vcom& vcom);
};
inline constexpr Op kOps[] = {
    {"read", [](ze::hal::Vcom& vcom) { return vcom.u1DrvReadVcom() == kValue; }},
    {"update", [](ze::hal::Vcom& vcom) { return vcom.u1DrvUpdataVcom(kValue) == 0; }},
    {"save", [](ze::hal::Vcom& vcom) { return vcom.u1DrvSaveVcom(kValue) == 0; }},
};

class Rig {
public:
    // Throws std::runtime_error when the panel or the driver cannot be set up.
    explicit Rig(const ze::ic::catalogue::ChipInfo& chip)
    {
        const std::string label = chip.label;
        ze::sim::RigSetup setup;
        setup.panel.typeIdx = chip.typeIdx;
        std::string error;
        sim_ = ze::sim::Rig::create(setup, &error);
        require(sim_ != nullptr, label + ": " + error);
        // Production boards run with the trace off; it would dominate the figures.
        sim_->board().setTraceEnabled(false);
        // Before the HAL core's first use: it publishes the board's I2C buses.
        sim_->activate();

        boost::shared_ptr<ze::hal::Registry> registry = getZeHalCore()->getRegistry();
        wrapper_ = std::make_unique<ze::ic::Vcom>(registry, kDriverId, sim_->config().i2cBus,
                                                  ze::ic::VCOM_CHIPS_I2C);
        require(wrapper_->initHardware() == 0 && wrapper_->registerDriver() == 0,
                label + ": the wrapper did not register its driver");
        vcom_ = boost::dynamic_pointer_cast<ze::hal::Vcom>(
            registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
        require(vcom_ && vcom_->init() == 0 && vcom_->u1DrvUpdataVcom(kValue) == 0,
                label + ": the driver did not initialise or update");
    }
    ~Rig()
    {
        vcom_.reset();
        wrapper_->unregisterDriver();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool run(const Op& op) { return op.run(*vcom_); }
    ze::sim::Board& board() { return sim_->board(); }

private:
    static constexpr int kDriverId = 0;
    static void require(bool ok, const std::string& what)
    {
        if (!ok) throw std::runtime_error(what);
    }

    std::unique_ptr<ze::sim::Rig> sim_;
    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
};

}  // namespace ze::bench
