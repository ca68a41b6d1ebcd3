#pragma once
// Everything the driver stands on, set up the way the HAL framework finds it:
// the platform root, the SoC backend and the board file the driver parses.
// Planned first, without writing anything, so that a refused run leaves no
// trace; installed afterwards.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ze/platform/soc_backend.h>
#include <ze/platform/vcom_board.h>

#include "command_line.h"
#include "driver_log.h"
#include "trace.h"

namespace vcomctl {

using BoardConfig = ze::platform::VcomBoardConfig;
BoardConfig withOverrides(BoardConfig board, const Overrides& overrides);

struct Failure {
    int exitCode = kExitFailed;
    std::string error;
};

// A directory of the tool's own, removed with everything in it on
// destruction or by remove().
class PrivateDir {
public:
    // nullptr, with *error set, when it cannot be created under $TMPDIR.
    static std::unique_ptr<PrivateDir> create(std::string* error);
    ~PrivateDir() { remove(); }
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;
    const std::string& path() const { return path_; }
    void remove();

private:
    PrivateDir() = default;
    std::string path_;
};

class SimulatedPanel;

class PlatformSetup {
public:
    // Points the platform at the root and reads the board: nothing is written.
    static std::unique_ptr<PlatformSetup> plan(const Options& options, Failure* failure);
    // Creates what the run needs (private roots, a simulated panel) and
    // installs the backend.
    bool install(Failure* failure);
    // Uninstalls the backend, restores $ZE_PLATFORM_ROOT and removes private
    // roots.
    ~PlatformSetup();
    PlatformSetup(const PlatformSetup&) = delete;
    PlatformSetup& operator=(const PlatformSetup&) = delete;

    // Empty for a private root.
    const std::string& userRoot() const { return userRoot_; }
    ze::platform::SocBackend& backend() const { return *backend_; }
    bool simulated() const;
    const BoardConfig& board() const { return board_; }
    // Why the tool must not act on the board file; "" when it may.
    const std::string& boardProblem() const { return boardProblem_; }
    // A missing piece of the platform configuration that explains a failure
    // on `bus`, or "".
    std::string configurationGap(unsigned int bus) const;
    // Around each command: a simulated panel that keeps its state loads it
    // under its lock and saves it.
    bool beginCommand(std::string* error);
    bool keepState(std::string* error);
    // The meter watching a simulated panel's flicker; empty without one.
    SimulatedMeter simulatedMeter() const;
    // From the signal thread while the run waits: leaves nothing behind.
    void emergencyCleanup();

private:
    PlatformSetup();
    void pointAt(const std::string& root);
    bool overlayBoard(Failure* failure);

    const Options* options_ = nullptr;
    std::string userRoot_;
    std::optional<std::string> previousRootEnv_;
    bool rootEnvChanged_ = false;
    BoardConfig board_;
    std::string boardProblem_;
    std::unique_ptr<PrivateDir> overlay_;
    std::unique_ptr<SimulatedPanel> sim_;
    std::shared_ptr<ze::platform::SocBackend> backend_;
};

}  // namespace vcomctl
