#pragma once
// A simulated panel of one chip under a temporary platform root, with the
// driver brought up as the HAL framework brings it up, and the operations the
// figures are taken of.

#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/sim/board.h>

#include "icinit.h"

namespace ze::bench {

enum class Op { Read, Update, Save };
inline constexpr Op kOps[] = {Op::Read, Op::Update, Op::Save};
const char* opName(Op op);

class Rig {
public:
    // Throws std::runtime_error when the panel or the driver cannot be set up.
    explicit Rig(const ze::ic::catalogue::ChipInfo& chip);
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // False when the operation failed; a read fails when it does not give
    // back the value the rig writes.
    bool run(Op op);
    ze::sim::Board& board() { return *board_; }

private:
    std::string root_;
    std::shared_ptr<ze::sim::Board> board_;
    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
};

}  // namespace ze::bench
