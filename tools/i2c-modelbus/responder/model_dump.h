#pragma once
// The state of a panel's chip models as one line of key=value fields, for
// checks that must not go through the driver or the bus.

#include <string>

#include <ze/sim/panel.h>

namespace modelbus {

// "setting=0x80 nvm=0x80 saves=1" for an AUO, and so on per chip; "bridge=open"
// and the like for the Innolux bridge.
std::string dumpPanel(const ze::sim::Panel& panel);

}  // namespace modelbus
