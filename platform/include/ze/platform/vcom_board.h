#pragma once
// The "[VCOM]" section of the board file: which VCOM chip the panel carries
// and how it is reached. Read with the driver's reader and number parse, so a
// tool sees what the driver will, and written back as the section's text.

#include <cstdint>
#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace platform {

// The board file, a fixed path under the platform root.
constexpr const char* kBoardFile = "/obdata/model/config/board.ini";

// The section's keys, in the order the driver reads them.
enum class VcomKey : unsigned int {
    TypeIdx,
    I2cBus,
    VcomAddr,
    GpioAddr,
    GpioStatus,
    LdmFlag,
    I2cSwitchType,
};
constexpr unsigned int kVcomKeyCount = 7;
ZE_PLATFORM_EXPORT const char* vcomKeyName(VcomKey key);

// Each value in the width the driver keeps it; defaults are the driver's for
// a key the file lacks.
struct VcomBoardConfig {
    int typeIdx = 1;
    std::uint8_t i2cBus = 1;
    std::uint8_t vcomAddr = 0xE8;  // 8-bit form: 7-bit address << 1
    std::uint8_t gpioAddr = 0xA8;  // programming / access-gate GPIO of some chips
    std::uint32_t gpioStatus = 1;  // that GPIO's level during an access
    std::uint8_t ldmFlag = 0;
    std::uint8_t i2cSwitchType = 0;  // 1: the chip sits behind the GPIO-controlled switch

    bool operator==(const VcomBoardConfig& o) const
    {
        return typeIdx == o.typeIdx && i2cBus == o.i2cBus && vcomAddr == o.vcomAddr &&
               gpioAddr == o.gpioAddr && gpioStatus == o.gpioStatus && ldmFlag == o.ldmFlag &&
               i2cSwitchType == o.i2cSwitchType;
    }
    bool operator!=(const VcomBoardConfig& o) const { return !(*this == o); }
};

// A value's number as the driver reads it: strtoul with base 0, pinned to 32
// bits whatever the width of unsigned long (a minus sign negates modulo 2^32,
// a magnitude beyond 32 bits saturates).
ZE_PLATFORM_EXPORT std::uint32_t parseVcomNumber(const char* text);
// Stores `number` in the key's field, cut to the field's width as the driver cuts it.
ZE_PLATFORM_EXPORT void setVcomKey(VcomBoardConfig& config, VcomKey key, std::uint32_t number);

struct VcomBoardRead {
    VcomBoardConfig config;
    unsigned int present = 0;  // bit (1 << key) for each key the file has
    // Why a tool must not act on the file (it cannot be read, is no regular
    // file, has a line the reader refuses, lacks [VCOM] or its TypeIdx): the
    // driver would silently run its defaults. Empty when it may.
    std::string problem;

    bool has(VcomKey key) const { return (present >> static_cast<unsigned int>(key) & 1u) != 0; }
};
// The board file under the platform root, read through tvConfig::ConfigUtil
// as the driver reads it.
ZE_PLATFORM_EXPORT VcomBoardRead readVcomBoard();

// "[VCOM]" and all seven keys, one "Key = value" line each.
ZE_PLATFORM_EXPORT std::string vcomBoardSection(const VcomBoardConfig& config);
// Writes `root` + kBoardFile holding the section alone, making its
// directories. Returns 0 or -errno.
ZE_PLATFORM_EXPORT int writeVcomBoard(const std::string& root, const VcomBoardConfig& config);

}  // namespace platform
}  // namespace ze
