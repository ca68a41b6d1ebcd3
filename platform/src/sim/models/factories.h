#pragma once
// One factory per chip family; installPanel picks by ChipType.

#include <ze/sim/panel.h>

namespace ze {
namespace sim {
namespace detail {

Panel makeAuoPanel(Board& board, const PanelConfig& config);     // AUO (gated) and KD532P
Panel makeBoePanel(Board& board, const PanelConfig& config);
Panel makeKd733Panel(Board& board, const PanelConfig& config);
Panel makeRt6966Panel(Board& board, const PanelConfig& config);
Panel makeG1625Panel(Board& board, const PanelConfig& config);
Panel makeInnoluxPanel(Board& board, const PanelConfig& config);  // IN525 and IN518

}  // namespace detail
}  // namespace sim
}  // namespace ze
