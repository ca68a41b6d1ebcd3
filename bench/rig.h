#pragma once
// A simulated panel of one chip under a temporary platform root, its driver
// brought up as the HAL framework brings it up, and the operations timed.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/halcore.h>
#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/platform/env_setup.h>
#include <ze/platform/soc_backend.h>
#include <ze/sim/board.h>
#include <ze/sim/panel.h>

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
        : root_(std::filesystem::temp_directory_path() / "vcom-bench-XXXXXX"),
          board_(ze::sim::makeDefaultBoard())
    {
        const std::string label = chip.label;
        require(mkdtemp(&root_[0]) != nullptr, "cannot create " + root_);
        // Production boards run with the trace off; it would dominate the figures.
        board_->setTraceEnabled(false);
        ze::sim::PanelConfig panel;
        panel.chip = static_cast<ze::sim::ChipType>(chip.typeIdx);
        ze::sim::installPanel(*board_, panel);
        setenv("ZE_PLATFORM_ROOT", root_.c_str(), 1);
        require(
            ze::sim::writeBoardIni(root_, panel) == 0 && ze::platform::createEnvStore(root_) == 0,
            label + ": cannot write the board file or the env store under " + root_);
        // Before the HAL core's first use: it publishes the board's I2C buses.
        ze::platform::setSocBackend(board_);

        boost::shared_ptr<ze::hal::Registry> registry = getZeHalCore()->getRegistry();
        wrapper_ = std::make_unique<ze::ic::Vcom>(registry, kDriverId, static_cast<int>(panel.bus),
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
        ze::platform::setSocBackend(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool run(const Op& op) { return op.run(*vcom_); }
    ze::sim::Board& board() { return *board_; }

private:
    static constexpr int kDriverId = 0;
    static void require(bool ok, const std::string& what)
    {
        if (!ok) throw std::runtime_error(what);
    }

    std::string root_;
    std::shared_ptr<ze::sim::Board> board_;
    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
};

}  // namespace ze::bench
