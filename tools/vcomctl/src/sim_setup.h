#pragma once
// A simulated panel standing in for the board: for --sim in a fresh private
// root, for --sim-state in a directory the tool created and keeps, for
// --dry-run with the chip and wiring of the board file.

#include <memory>
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
    static constexpr const char* kJournalFile = "panel.journal";

    // Decides the panel from the options (and, for --dry-run, the board's
    // fields); reads an existing state directory but writes nothing.
    static std::unique_ptr<SimulatedPanel> plan(const Options& options, const DriverFields* board,
                                                Failure* failure);
    // Creates the root, its board file and environment store (a kept state
    // directory only the first time), the panel and its faults.
    bool install(Failure* failure);

    const DriverFields& fields() const { return fields_; }
    const std::string& root() const;
    bool keepsState() const { return !stateDir_.empty(); }
    std::shared_ptr<ze::platform::SocBackend> backend() const { return board_; }
    void record(const std::vector<TraceEntry>& entries);
    void removePrivateRoot();

private:
    SimulatedPanel() = default;
    bool createStateDir(Failure* failure);
    bool injectFaults(const ze::sim::Panel& panel, Failure* failure);

    ze::sim::PanelConfig config_;
    DriverFields fields_;
    std::vector<std::string> faults_;
    std::string stateDir_;
    bool stateExists_ = false;
    std::unique_ptr<PrivateDir> private_;
    std::shared_ptr<ze::sim::Board> board_;
};

}  // namespace vcomctl
