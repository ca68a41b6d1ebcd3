#pragma once
// How the model files put their chips on a board.

#include <memory>

#include <ze/sim/panel.h>

namespace ze {
namespace sim {

// The chip at the board file's bus and address.
template <class Model>
void attachChip(Board& board, const VcomBoardConfig& config, Panel& panel,
                std::shared_ptr<Model> model)
{
    board.attach(config.i2cBus, config.vcomAddr, model);
    panel.chip = model;
    panel.model = model;
}

// A chip on the bus by itself.
template <class Model>
void installChip(Board& board, const VcomBoardConfig& config, Panel& panel)
{
    attachChip(board, config, panel, std::make_shared<Model>());
}

}  // namespace sim
}  // namespace ze
