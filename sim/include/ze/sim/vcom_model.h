#pragma once
// What every panel VCOM chip model offers besides its bus side.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <ze/sim/export.h>

namespace ze {
namespace sim {

// A part's registers and NVM as named byte strings ("regs", "nvm", ...).
using ModelState = std::map<std::string, std::vector<std::uint8_t>>;

// "key=value" fields separated by blanks, as a watcher of the bus logs a
// part: "setting=0x80 nvm=0x80 saves=0".
class ZE_SIM_EXPORT ModelFields {
public:
    ModelFields& hex(const char* key, unsigned int value);
    ModelFields& count(const char* key, unsigned int value);
    ModelFields& flag(const char* key, bool value);
    template <typename Bytes>
    ModelFields& bytes(const char* key, const Bytes& values)
    {
        std::string hexBytes;
        char byte[4];
        for (unsigned int value : values) {
            std::snprintf(byte, sizeof byte, "%02x", value);
            hexBytes += byte;
        }
        return add(key, hexBytes);
    }
    const std::string& text() const { return text_; }

private:
    ModelFields& add(const char* key, const std::string& value);

    std::string text_;
};

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
    // Registers, NVM and the counts of saves and programming cycles.
    virtual void dump(ModelFields& fields) const = 0;
};

}  // namespace sim
}  // namespace ze
