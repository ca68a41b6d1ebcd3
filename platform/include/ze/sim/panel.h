#pragma once
// A simulated panel described once: which VCOM chip, on which bus and address,
// with which access-gate GPIO. The description yields both the chip models on
// a board and the matching "[VCOM]" section of the board file.

#include <cstdint>
#include <memory>
#include <string>

#include <ze/sim/board.h>
#include <ze/sim/device.h>

namespace ze {
namespace sim {

// Board file TypeIdx values.
enum class ChipType : int {
    AUO = 1,
    IN518 = 3,
    BOE = 4,
    RT6966 = 6,
    IN525 = 7,
    KD733 = 8,
    G1625 = 9,
    KD532P = 10,
};

// Name as written on a command line ("auo", "in518", ...) and back.
ZE_PLATFORM_EXPORT const char* chipName(ChipType chip);
// False for a name that is no chip.
ZE_PLATFORM_EXPORT bool chipFromName(const std::string& name, ChipType* chip);

struct PanelConfig {
    ChipType chip = ChipType::AUO;
    unsigned int bus = 1;
    std::uint8_t vcomAddr = 0xE8;     // 8-bit form
    std::uint8_t gpioAddr = 0xA8;     // AUO access gate
    std::uint32_t gpioStatus = 1;     // gate level during an access
    std::uint8_t ldmFlag = 0;
    std::uint8_t i2cSwitchType = 0;   // 1: chip behind the switch on GPIO 0
};

// The Innolux chips sit behind a pass-through bridge at this 8-bit address.
constexpr std::uint8_t kInnoluxBridgeAddr = 0xC2;

struct Panel {
    std::shared_ptr<I2cDevice> chip;    // the VCOM chip's model
    std::shared_ptr<I2cDevice> bridge;  // the pass-through bridge (Innolux chips), else empty
};

// Adds the bus and GPIO lines the panel needs (if the board lacks them),
// attaches the models and wires the access gate. Throws
// std::invalid_argument for an address that is already taken.
ZE_PLATFORM_EXPORT Panel installPanel(Board& board, const PanelConfig& config);
// The "[VCOM]" section for the panel, all seven keys.
ZE_PLATFORM_EXPORT std::string vcomSection(const PanelConfig& config);
// Writes $root/obdata/model/config/board.ini holding vcomSection(config).
// Returns 0, or -errno.
ZE_PLATFORM_EXPORT int writeBoardIni(const std::string& root, const PanelConfig& config);

}  // namespace sim
}  // namespace ze
