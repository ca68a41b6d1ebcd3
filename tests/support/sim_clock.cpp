// Simulated parts keep their busy windows on the virtual clock too, on a
// scale that resetClock leaves alone: a part busy when a test resets the clock
// must not stay busy for longer.

#include <ze/sim/device.h>

#include "ze/test/virtual_clock.h"

namespace {

const bool gSimulatedBoardsUseVirtualTime = (ze::sim::setDefaultClock(ze::test::sinceStartUs), true);

}  // namespace
