#pragma once
// A simulated panel described once: which VCOM chip, on which bus and address,
// with which access-gate GPIO and I2C switch. The description yields both the
// chip models on a board and the matching "[VCOM]" section of the board file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <ze/sim/board.h>
#include <ze/sim/device.h>
#include <ze/sim/export.h>

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

// Name as written on a command line ("auo", "in518", ...) and back, as the
// chip catalogue has them. chipFromName ignores case; false for no chip.
ZE_SIM_EXPORT const char* chipName(ChipType chip);
ZE_SIM_EXPORT bool chipFromName(const std::string& name, ChipType* chip);

struct PanelConfig {
    ChipType chip = ChipType::AUO;
    unsigned int bus = 1;
    std::uint8_t vcomAddr = 0xE8;  // 8-bit form
    std::uint8_t gpioAddr = 0xA8;  // AUO access gate
    std::uint32_t gpioStatus = 1;  // gate level during an access
    std::uint8_t ldmFlag = 0;
    std::uint8_t i2cSwitchType = 0;  // 1: chip behind the switch on GPIO 0
};

// The Innolux chips sit behind a pass-through bridge at this 8-bit address.
constexpr std::uint8_t kInnoluxBridgeAddr = 0xC2;
// With I2cSwitchType 1 the panel's devices reach the bus through a switch on
// this GPIO line, cut off while it is at level 0.
constexpr unsigned int kI2cSwitchGpio = 0;
constexpr std::uint8_t kI2cSwitchTypeGpio = 1;

struct Panel {
    std::shared_ptr<I2cDevice> chip;    // the VCOM chip's model
    std::shared_ptr<I2cDevice> bridge;  // the pass-through bridge (Innolux chips), else empty
    ChipType type = ChipType::AUO;
};

// Adds the bus and GPIO lines the panel needs (if the board lacks them),
// attaches the models and wires the access gate and the I2C switch. Throws
// std::invalid_argument for an address that is already taken.
ZE_SIM_EXPORT Panel installPanel(Board& board, const PanelConfig& config);
// The "[VCOM]" section for the panel, all seven keys.
ZE_SIM_EXPORT std::string vcomSection(const PanelConfig& config);
// Writes $root/obdata/model/config/board.ini holding vcomSection(config).
// Returns 0, or -errno.
ZE_SIM_EXPORT int writeBoardIni(const std::string& root, const PanelConfig& config);

// The VCOM setting the chip drives now, in the driver's value units (what a
// read would return); nullopt for a panel without a chip model.
ZE_SIM_EXPORT std::optional<unsigned int> heldValue(const Panel& panel);

// The chip's registers and NVM as text: "chip = boe", then "key = hex bytes"
// lines, closed by "end = N" (N: the lines before it), so that a file cut
// short is told from a complete one.
ZE_SIM_EXPORT std::string panelStateText(const Panel& panel);
// Restores what panelStateText wrote. "" or, with nothing changed, what is
// wrong ("line 3: nvm: expected hex bytes, got 'zz'").
ZE_SIM_EXPORT std::string restorePanelState(Panel& panel, const std::string& text);

// The state in the file `name` of the directory `dirFd`, never through a
// symbolic link: a new file of a unique name, synced, then renamed over
// `name`, and the directory synced. Returns 0 or -errno.
ZE_SIM_EXPORT int savePanelState(const Panel& panel, int dirFd, const std::string& name);
// Restores the file `name` of `dirFd` (not a symbolic link). 0; -errno when
// it cannot be read; -EINVAL, with *why set and nothing changed, when it
// holds no state of this panel.
ZE_SIM_EXPORT int loadPanelState(Panel& panel, int dirFd, const std::string& name,
                                 std::string* why);
// The same for a path: its directory may be reached through links, the file
// itself not.
ZE_SIM_EXPORT int savePanelState(const Panel& panel, const std::string& file);
ZE_SIM_EXPORT int loadPanelState(Panel& panel, const std::string& file);

}  // namespace sim
}  // namespace ze

// A new'd default board with the panel that `root`/obdata/model/config/board.ini
// describes in its "[VCOM]" section (missing keys take the driver's defaults;
// TypeIdx is required). On failure: nullptr, errno set and one line on
// stderr. The caller owns the board. Looked up with dlsym by the platform when
// its configuration says "backend = sim".
extern "C" ZE_SIM_EXPORT ze::platform::SocBackend* ze_sim_create_backend(const char* root);
