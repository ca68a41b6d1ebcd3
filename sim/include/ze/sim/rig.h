#pragma once
// A simulated panel ready for the driver: a platform root holding the board
// file and the U-Boot environment store, a board with the panel on it, and
// the platform pointed at both while the rig lives.

#include <memory>
#include <string>

#include <ze/platform/soc_backend.h>
#include <ze/platform/vcom_board.h>
#include <ze/sim/board.h>
#include <ze/sim/export.h>
#include <ze/sim/panel.h>

namespace ze {
namespace sim {

struct RigSetup {
    // The panel, as the board file describes it.
    ze::platform::VcomBoardConfig panel;
    // "": a new private temporary directory, removed with the rig. Otherwise
    // this directory (made when missing), kept.
    std::string root;
    // The board the panel goes on; nullptr: makeDefaultBoard().
    std::shared_ptr<Board> board;
    // The U-Boot environment store under the root, as on a real board.
    bool envStore = true;
    // false: the given root is taken as it is, its board file and store
    // already there (a panel kept from an earlier run); nothing is written.
    bool writeRoot = true;
};

class ZE_SIM_EXPORT Rig {
public:
    // nullptr, with one line naming what failed and why in *error.
    static std::unique_ptr<Rig> create(const RigSetup& setup, std::string* error);
    // Points the platform back at its configuration (see activate) and
    // removes a temporary root.
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    const std::string& root() const;
    const ze::platform::VcomBoardConfig& config() const;
    Board& board() const;
    const std::shared_ptr<Board>& sharedBoard() const;
    Panel& panel();

    // $ZE_PLATFORM_ROOT names the root and the platform's SoC calls go to
    // `backend` (the board when nullptr) until the rig goes; then the
    // variable is as it was and the platform's configuration chooses the
    // backend again.
    void activate(std::shared_ptr<ze::platform::SocBackend> backend = nullptr);

private:
    Rig();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
}  // namespace ze
