#include "sim_rig.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include <ze/platform/env_setup.h>
#include <ze/platform/soc_backend.h>

#include "vcomic/VCOMICdriver.h"

namespace ze::vcomcal::test {

SimRig::SimRig(ze::sim::ChipType chip) : board_(ze::sim::makeDefaultBoard())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vcomcal-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a root");
    root_ = pattern;
    ze::sim::PanelConfig config;
    config.chip = chip;
    panel_ = ze::sim::installPanel(*board_, config);
    board_->setTraceEnabled(false);
    if (ze::sim::writeBoardIni(root_, config) != 0 || ze::platform::createEnvStore(root_) != 0) {
        throw std::runtime_error("cannot write the board under " + root_);
    }
    setenv("ZE_PLATFORM_ROOT", root_.c_str(), 1);
    ze::platform::setSocBackend(board_);
    auto driver = std::make_shared<ze::ic::VCOMICDriver>(0, nullptr);
    if (driver->init() != 0) throw std::runtime_error("driver init failed");
    driver_ = driver;
}

SimRig::~SimRig()
{
    driver_.reset();
    ze::platform::setSocBackend(nullptr);
    std::filesystem::remove_all(root_);
}

}  // namespace ze::vcomcal::test
