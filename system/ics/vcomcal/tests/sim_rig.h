#pragma once
// The driver on a simulated panel of one chip, under a temporary platform
// root, brought up as a platform component finds it.

#include <memory>
#include <string>

#include <ze/hal/vcom.h>
#include <ze/sim/board.h>
#include <ze/sim/panel.h>

namespace ze::vcomcal::test {

class SimRig {
public:
    explicit SimRig(ze::sim::ChipType chip);  // throws std::runtime_error
    ~SimRig();
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    ze::hal::Vcom& vcom() { return *driver_; }
    ze::sim::Board& board() { return *board_; }
    const ze::sim::Panel& panel() const { return panel_; }

private:
    std::string root_;
    std::shared_ptr<ze::sim::Board> board_;
    ze::sim::Panel panel_;
    std::shared_ptr<ze::hal::Vcom> driver_;
};

}  // namespace ze::vcomcal::test
