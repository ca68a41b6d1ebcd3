#pragma once
// The driver on a simulated panel of one chip, under a temporary platform
// root, brought up as a platform component finds it.

#include <memory>

#include <ze/hal/vcom.h>
#include <ze/sim/rig.h>

namespace ze::vcomcal::test {

class SimRig {
public:
    explicit SimRig(const char* chip);  // the catalogue's name; throws std::runtime_error
    ~SimRig();
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    ze::hal::Vcom& vcom() { return *driver_; }
    ze::sim::Board& board() { return rig_->board(); }
    const ze::sim::Panel& panel() const { return rig_->panel(); }

private:
    std::unique_ptr<ze::sim::Rig> rig_;
    std::shared_ptr<ze::hal::Vcom> driver_;
};

}  // namespace ze::vcomcal::test
