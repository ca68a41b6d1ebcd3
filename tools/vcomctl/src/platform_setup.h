#pragma once
// Everything the driver stands on, set up the way the HAL framework finds it:
// the platform root, the SoC backend and the board file the driver parses.
// Planned first, without writing anything, so that a refused run leaves no
// trace; installed afterwards. A board's setup is here, a simulated panel's
// (--sim, --sim-state, --dry-run) in sim_setup.cpp.

#include <memory>
#include <optional>
#include <string>

#include <ze/platform/soc_backend.h>
#include <ze/platform/vcom_board.h>

#include "command_line.h"

namespace vcomctl {

BoardConfig withOverrides(BoardConfig board, const Overrides& overrides);

struct Failure {
    int exitCode = kExitFailed;
    std::string error;
};

// $ZE_PLATFORM_ROOT names a root until this goes; then it is as it was.
class RootVariable {
public:
    RootVariable() = default;
    ~RootVariable();
    RootVariable(const RootVariable&) = delete;
    RootVariable& operator=(const RootVariable&) = delete;
    void point(const std::string& root);

private:
    bool changed_ = false;
    std::optional<std::string> saved_;
};

class PlatformSetup {
public:
    // Reads the board and decides the setup: nothing is written.
    static std::unique_ptr<PlatformSetup> plan(const Options& options, Failure* failure);
    virtual ~PlatformSetup() = default;

    // Creates what the run needs (private roots, a simulated panel) and
    // installs the backend; the destructor takes all of it back.
    virtual bool install(Failure* failure) = 0;
    virtual ze::platform::SocBackend& backend() const = 0;
    // The root the report names; empty for a private one.
    virtual std::string userRoot() const = 0;
    virtual bool simulated() const { return true; }
    // A missing piece of the platform configuration that explains a failure
    // on `bus`, or "".
    virtual std::string configurationGap(unsigned int) const { return ""; }
    // Around each command: a simulated panel that keeps its state loads it
    // under its lock, and saves it.
    virtual bool beginCommand(std::string*) { return true; }
    virtual bool keepState(std::string*) { return true; }
    // The meter watching a simulated panel's flicker; empty without one.
    virtual SimulatedMeter simulatedMeter() { return nullptr; }
    // From the signal thread while the run waits: leaves nothing behind.
    virtual void emergencyCleanup() {}

    const BoardConfig& board() const { return read_.config; }
    // Why the tool must not act on the board file; "" when it may.
    const std::string& boardProblem() const { return read_.problem; }

protected:
    explicit PlatformSetup(ze::platform::VcomBoardRead read) : read_(std::move(read)) {}

private:
    const ze::platform::VcomBoardRead read_;
};

// The board file under `root`, as the driver would parse it.
ze::platform::VcomBoardRead readBoardUnder(const std::string& root);
// The simulated panel: for --dry-run on `board` (the board file's, with its
// problem), otherwise as --sim and --sim-state say.
std::unique_ptr<PlatformSetup> planSimulatedPanel(const Options& options,
                                                  const ze::platform::VcomBoardRead* board,
                                                  Failure* failure);

}  // namespace vcomctl
