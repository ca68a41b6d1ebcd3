#pragma once
// Everything the driver stands on, set up the way the HAL framework finds it:
// the platform root, the SoC backend (hardware or a simulated panel) and the
// board file the driver will parse.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <ze/platform/soc_backend.h>

#include "command_line.h"

namespace vcomctl {

// The fixed location of the board file under the platform root.
constexpr const char* kBoardFile = "/obdata/model/config/board.ini";

// The "[VCOM]" section as the driver reads it: same reader, same number
// syntax (strtoul base 0), same defaults for missing keys.
struct BoardConfig {
    int typeIdx = 1;
    std::uint8_t i2cBus = 1;
    std::uint8_t vcomAddr = 0xE8;
    std::uint8_t gpioAddr = 0xA8;
    std::uint32_t gpioStatus = 1;
    std::uint8_t ldmFlag = 0;
    std::uint8_t i2cSwitchType = 0;
};

// Reads the board file under the current platform root. Returns nullopt,
// with *error naming the path, when the file does not exist.
std::optional<BoardConfig> readBoardConfig(std::string* error);

class PlatformSetup {
public:
    // Points the platform at the root, installs the backend and reads the
    // board file. nullptr, with *error set, when any of it fails.
    static std::unique_ptr<PlatformSetup> prepare(const Options& options, std::string* error);
    // Uninstalls the backend, restores $ZE_PLATFORM_ROOT and removes a
    // temporary root.
    ~PlatformSetup();
    PlatformSetup(const PlatformSetup&) = delete;
    PlatformSetup& operator=(const PlatformSetup&) = delete;

    const std::string& root() const { return root_; }
    bool temporaryRoot() const { return temporaryRoot_; }
    ze::platform::SocBackend& backend() const { return *backend_; }
    const BoardConfig& board() const { return board_; }
    // Set when no hardware backend is configured and a simulated panel
    // stands in for it: the user must not mistake it for the board.
    const std::string& notice() const { return notice_; }

private:
    PlatformSetup() = default;
    bool setRoot(const Options& options, std::string* error);
    bool installSimulatedPanel(const Options& options, std::string* error);
    bool installConfiguredBackend(std::string* error);

    std::string root_;
    bool temporaryRoot_ = false;
    std::optional<std::string> previousRootEnv_;
    bool rootEnvChanged_ = false;
    std::shared_ptr<ze::platform::SocBackend> backend_;
    BoardConfig board_;
    std::string notice_;
};

}  // namespace vcomctl
