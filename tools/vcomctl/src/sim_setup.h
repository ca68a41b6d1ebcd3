#pragma once
// A simulated panel standing in for the board: for --sim in a fresh private
// root, for --sim-state in a directory the tool created and keeps, for
// --dry-run with the chip and wiring of the board file.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ze/sim/board.h>
#include <ze/sim/panel.h>

#include "platform_setup.h"

namespace vcomctl {

class SimulatedPanel {
public:
    // Marks a --sim-state directory as the tool's own and names its chip.
    static constexpr const char* kMarkerFile = ".vcomctl-sim-state";
    static constexpr const char* kStateFile = "panel.state";
    // Locked by each command's read-modify-write of the state; never renamed.
    static constexpr const char* kLockFile = ".lock";
    ~SimulatedPanel();
    SimulatedPanel(const SimulatedPanel&) = delete;
    SimulatedPanel& operator=(const SimulatedPanel&) = delete;

    // Decides the panel from the options (and, for --dry-run, the board's
    // fields); reads an existing state directory but writes nothing.
    static std::unique_ptr<SimulatedPanel> plan(const Options& options, const BoardConfig* board,
                                                Failure* failure);
    // Creates the root, its board file and environment store (a kept state
    // directory only the first time), the panel and its faults.
    bool install(Failure* failure);

    const BoardConfig& fields() const { return fields_; }
    const std::string& root() const;
    bool keepsState() const { return !stateDir_.empty(); }
    std::shared_ptr<ze::platform::SocBackend> backend() const { return board_; }
    // Before each command on a kept state directory: takes its lock and
    // loads the state another run may have changed meanwhile.
    bool beginCommand(std::string* error);
    // After it: the chip's registers and NVM, if they changed, for the next
    // command or run; the lock is released.
    bool keepState(std::string* error);
    // What the chip model holds, as an optical probe sees the panel.
    std::optional<unsigned int> heldValue() const;
    // A flicker meter on the panel: its flicker drawn from the options' seed
    // unless they set it.
    std::unique_ptr<ze::vcomcal::Meter> flickerMeter(const CalibrateOptions& options,
                                                     const ChipInfo& chip) const;
    void removePrivateRoot();

private:
    SimulatedPanel() = default;
    bool createStateDir(Failure* failure);
    std::string openStateDir();
    bool loadState(std::string* error);
    void unlock();
    bool injectFaults(Failure* failure);
    std::string stateFile() const { return stateDir_ + "/" + kStateFile; }

    BoardConfig fields_;
    std::vector<Fault> faults_;
    std::string stateDir_;
    bool stateExists_ = false;
    int dirFd_ = -1;
    int lockFd_ = -1;        // -1 also for a directory no one can write
    std::string savedText_;  // the state as the file holds it
    std::unique_ptr<PrivateDir> private_;
    std::shared_ptr<ze::sim::Board> board_;
    ze::sim::Panel panel_;
};

}  // namespace vcomctl
