#pragma once
// A simulated panel as the board file's "[VCOM]" section describes it: which
// VCOM chip, on which bus and address, with which access-gate GPIO and I2C
// switch. Each chip model puts itself on the board; the catalogue's TypeIdx
// names it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <ze/platform/vcom_board.h>
#include <ze/sim/board.h>
#include <ze/sim/device.h>
#include <ze/sim/export.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {

using ze::platform::VcomBoardConfig;

// The Innolux chips sit behind a pass-through bridge at this 8-bit address.
constexpr std::uint8_t kInnoluxBridgeAddr = 0xC2;
// With I2cSwitchType 1 the panel's devices reach the bus through a switch on
// this GPIO line, cut off while it is at level 0.
constexpr unsigned int kI2cSwitchGpio = 0;
constexpr std::uint8_t kI2cSwitchTypeGpio = 1;

struct Panel {
    std::shared_ptr<I2cDevice> chip;    // the VCOM chip's model on the bus
    std::shared_ptr<VcomModel> model;   // the same part, as a VCOM chip
    std::shared_ptr<I2cDevice> bridge;  // the pass-through bridge (Innolux chips), else empty
    int typeIdx = 0;                    // the catalogue's
};

// A chip model as the board file finds it, and what tools and fuzzers must
// know of the chip without a board.
struct ChipModel {
    const char* name;  // the catalogue's name of the chip
    // Attaches the chip, and whatever it sits behind, at the file's bus and
    // address and wires what only this chip uses; fills panel.chip, .model
    // and .bridge. Throws std::invalid_argument for an address already taken.
    void (*install)(Board& board, const VcomBoardConfig& config, Panel& panel);
    bool gated;      // GpioAddr is the chip's access gate
    bool keepsSave;  // has NVM; without, the driver keeps the saved value elsewhere
    // A read gives (code - valueOffset) modulo 2^16, the code at most codeMax.
    std::uint16_t codeMax;
    std::uint16_t valueOffset;
};
// The code range of a chip with an 8-bit setting.
constexpr std::uint16_t kByteCodeMax = 0xFF;
// The model of the catalogue's chip `typeIdx`; nullptr for none.
ZE_SIM_EXPORT const ChipModel* chipModel(int typeIdx);
// Whether a read from the chip can give `value`.
ZE_SIM_EXPORT bool readable(const ChipModel& model, unsigned int value);
// A model file adds its chip at load time with one of these.
struct ZE_SIM_EXPORT ChipModelRegistration {
    explicit ChipModelRegistration(const ChipModel& model);
};

// Adds the bus and GPIO lines the panel needs (if the board lacks them),
// attaches the models and wires the access gate and the I2C switch. Throws
// std::invalid_argument for a TypeIdx without a model or an address that is
// already taken.
ZE_SIM_EXPORT Panel installPanel(Board& board, const VcomBoardConfig& config);

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
