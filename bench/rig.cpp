#include "rig.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <ze/hal/halcore.h>
#include <ze/platform/env_setup.h>
#include <ze/platform/soc_backend.h>
#include <ze/sim/panel.h>

namespace ze::bench {
namespace {

constexpr int kDriverId = 0;
// Within every chip's update and save range.
constexpr unsigned short kValue = 0x40;

std::string makeRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vcom-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot create a platform root " + pattern + ": " +
                                 std::strerror(errno));
    }
    return pattern;
}

void require(bool ok, const std::string& what)
{
    if (!ok) throw std::runtime_error(what);
}

}  // namespace

const char* opName(Op op)
{
    switch (op) {
        case Op::Read:
            return "read";
        case Op::Update:
            return "update";
        case Op::Save:
            return "save";
    }
    return "?";
}

Rig::Rig(const ze::ic::catalogue::ChipInfo& chip)
    : root_(makeRoot()), board_(ze::sim::makeDefaultBoard())
{
    const std::string label = chip.label;
    // Production boards run with the trace off; it would dominate the figures.
    board_->setTraceEnabled(false);
    ze::sim::PanelConfig panel;
    panel.chip = static_cast<ze::sim::ChipType>(chip.typeIdx);
    ze::sim::installPanel(*board_, panel);
    setenv("ZE_PLATFORM_ROOT", root_.c_str(), 1);
    require(ze::sim::writeBoardIni(root_, panel) == 0, label + ": cannot write the board file");
    require(ze::platform::createEnvStore(root_) == 0, label + ": cannot create the env store");
    // Before the HAL core's first use: it publishes the board's I2C buses.
    ze::platform::setSocBackend(board_);

    boost::shared_ptr<ze::hal::Registry> registry = getZeHalCore()->getRegistry();
    wrapper_ = std::make_unique<ze::ic::Vcom>(registry, kDriverId, static_cast<int>(panel.bus),
                                              ze::ic::VCOM_CHIPS_I2C);
    require(wrapper_->initHardware() == 0 && wrapper_->registerDriver() == 0,
            label + ": the wrapper did not register its driver");
    vcom_ = boost::dynamic_pointer_cast<ze::hal::Vcom>(
        registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
    require(vcom_ && vcom_->init() == 0, label + ": the driver did not initialise");
    require(run(Op::Update), label + ": the first update failed");
}

Rig::~Rig()
{
    vcom_.reset();
    wrapper_->unregisterDriver();
    wrapper_.reset();
    ze::platform::setSocBackend(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool Rig::run(Op op)
{
    switch (op) {
        case Op::Read:
            return vcom_->u1DrvReadVcom() == kValue;
        case Op::Update:
            return vcom_->u1DrvUpdataVcom(kValue) == 0;
        case Op::Save:
            return vcom_->u1DrvSaveVcom(kValue) == 0;
    }
    return false;
}

}  // namespace ze::bench
