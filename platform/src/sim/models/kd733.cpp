#include <stdexcept>

#include "factories.h"

namespace ze {
namespace sim {
namespace detail {

Panel makeKd733Panel(Board&, const PanelConfig&)
{
    throw std::invalid_argument("no model for this chip yet");
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
