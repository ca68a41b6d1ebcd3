#pragma once
// What every panel VCOM chip model offers besides its bus side.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <ze/sim/export.h>

namespace ze {
namespace sim {

// A part's registers and NVM as named byte strings ("regs", "nvm", ...).
using ModelState = std::map<std::string, std::vector<std::uint8_t>>;

class ZE_SIM_EXPORT VcomModel {
public:
    virtual ~VcomModel();

    // The VCOM setting the chip drives now, in the driver's value units: what
    // the driver's read would return.
    virtual unsigned int heldValue() const = 0;
    // Everything a power cycle keeps, and the registers besides. Busy windows
    // are not part of it.
    virtual ModelState state() const = 0;
    // False, with nothing changed, when a key is missing or has the wrong size.
    virtual bool restore(const ModelState& state) = 0;
};

}  // namespace sim
}  // namespace ze
