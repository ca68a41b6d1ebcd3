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
#include "driver_log.h"

namespace ze {
namespace ic {
class VCOMICDriver;
}  // namespace ic
}  // namespace ze

namespace vcomctl {

// The fixed location of the board file under the platform root.
constexpr const char* kBoardFile = "/obdata/model/config/board.ini";

// The "[VCOM]" fields as the driver holds them after a parse.
struct DriverFields {
    int typeIdx = 0;
    unsigned int i2cBus = 0;
    unsigned int vcomAddr = 0;
    unsigned int gpioAddr = 0;
    std::uint32_t gpioStatus = 0;
    unsigned int ldmFlag = 0;
    unsigned int i2cSwitchType = 0;
};
DriverFields fieldsOf(const ze::ic::VCOMICDriver& driver);

// The board file under the current platform root, parsed by the driver's own
// parse so that the tool sees what the driver will. Its messages are dropped:
// the driver's init reports the same keys again. nullopt, with *error naming
// the path, when the file does not exist.
std::optional<DriverFields> readBoardFields(DriverLog& log, std::string* error);

class PlatformSetup {
public:
    // Points the platform at the root, installs the backend and reads the
    // board file. nullptr, with *error set, when any of it fails.
    static std::unique_ptr<PlatformSetup> prepare(const Options& options, DriverLog& log,
                                                  std::string* error);
    // Uninstalls the backend, restores $ZE_PLATFORM_ROOT and removes a
    // temporary root.
    ~PlatformSetup();
    PlatformSetup(const PlatformSetup&) = delete;
    PlatformSetup& operator=(const PlatformSetup&) = delete;

    const std::string& root() const { return root_; }
    bool temporaryRoot() const { return temporaryRoot_; }
    ze::platform::SocBackend& backend() const { return *backend_; }
    const DriverFields& board() const { return *board_; }
    // Set when no hardware backend is configured and a simulated panel
    // stands in for it: the user must not mistake it for the board.
    const std::string& notice() const { return notice_; }

private:
    PlatformSetup() = default;
    bool setRoot(const Options& options, std::string* error);
    bool installSimulatedPanel(const Options& options, std::string* error);
    bool installConfiguredBackend(DriverLog& log, std::string* error);

    std::string root_;
    bool temporaryRoot_ = false;
    std::optional<std::string> previousRootEnv_;
    bool rootEnvChanged_ = false;
    std::shared_ptr<ze::platform::SocBackend> backend_;
    std::optional<DriverFields> board_;  // read once, by whichever step needs it first
    std::string notice_;
};

}  // namespace vcomctl
