#include "sim_rig.h"

#include <stdexcept>
#include <string>

#include <ze/ic/chip_catalogue.h>

#include "vcomic/VCOMICdriver.h"

namespace ze::vcomcal::test {

SimRig::SimRig(const char* chip)
{
    const ze::ic::catalogue::ChipInfo* info = ze::ic::catalogue::byName(chip);
    if (info == nullptr) throw std::runtime_error(std::string("no chip ") + chip);
    ze::sim::RigSetup setup;
    setup.panel.typeIdx = info->typeIdx;
    std::string error;
    rig_ = ze::sim::Rig::create(setup, &error);
    if (!rig_) throw std::runtime_error(error);
    rig_->board().setTraceEnabled(false);
    rig_->activate();
    auto driver = std::make_shared<ze::ic::VCOMICDriver>(0, nullptr);
    if (driver->init() != 0) throw std::runtime_error(std::string(chip) + ": driver init failed");
    driver_ = driver;
}

SimRig::~SimRig()
{
    driver_.reset();
}

}  // namespace ze::vcomcal::test
