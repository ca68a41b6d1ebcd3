#include "platform_setup.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <ze/platform/linux_backend.h>
#include <ze/platform/paths.h>

namespace vcomctl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";
constexpr const char* kPrivateDir = "vcomctl-XXXXXX";

// The board under the root the options name, or $ZE_PLATFORM_ROOT's, with
// --bus, --addr and --chip applied. The overrides reach the driver through a
// private root whose board file carries them; everything else there is the
// user's, by symbolic link.
class BoardSetup : public PlatformSetup {
public:
    BoardSetup(const Options& options, std::string root)
        : PlatformSetup(overridden(readBoardUnder(root), options.overrides)),
          root_(root.empty() ? ze::platform::platformRoot() : root),
          overlay_(options.overrides.any())
    {
        if (!root.empty()) variable_.point(root);
    }
    ~BoardSetup() override
    {
        if (backend_) ze::platform::setSocBackend(nullptr);
        emergencyCleanup();
    }

    bool install(Failure* failure) override
    {
        if (overlay_ && !overlayBoard(&failure->error)) return false;
        backend_ = ze::platform::makeConfiguredBackend(&failure->error);
        if (!backend_) return false;
        ze::platform::setSocBackend(backend_);
        return true;
    }
    ze::platform::SocBackend& backend() const override { return *backend_; }
    std::string userRoot() const override { return root_; }
    bool simulated() const override { return false; }
    std::string configurationGap(unsigned int bus) const override
    {
        const std::vector<unsigned int> buses = backend_->buses();
        if (std::find(buses.begin(), buses.end(), bus) != buses.end()) return "";
        return "bus " + std::to_string(bus) + " is not in [i2c] buses of " +
               (root_ == "/" ? "" : root_) + "/etc/zeplatform.conf";
    }
    void emergencyCleanup() override
    {
        std::error_code ignored;
        if (!privateRoot_.empty()) fs::remove_all(privateRoot_, ignored);
    }

private:
    static ze::platform::VcomBoardRead overridden(ze::platform::VcomBoardRead read,
                                                  const Overrides& overrides)
    {
        read.config = withOverrides(read.config, overrides);
        return read;
    }

    bool overlayBoard(std::string* error)
    {
        std::error_code failed;
        std::string dir = (fs::temp_directory_path(failed) / kPrivateDir).string();
        if (mkdtemp(dir.data()) == nullptr) {
            *error = "cannot create a private root in " + fs::path(dir).parent_path().string() +
                     ": " + std::strerror(errno);
            return false;
        }
        privateRoot_ = dir;
        for (const auto& entry : fs::directory_iterator(root_, failed)) {
            if (entry.path().filename() == "obdata") continue;
            fs::create_symlink(entry.path(), privateRoot_ / entry.path().filename(), failed);
            if (failed) break;
        }
        if (!failed)
            failed.assign(-ze::platform::writeVcomBoard(dir, board()), std::generic_category());
        if (failed) {
            *error = "cannot prepare the board overrides under " + dir + ": " + failed.message();
            return false;
        }
        variable_.point(dir);
        return true;
    }

    const std::string root_;
    const bool overlay_;
    RootVariable variable_;
    fs::path privateRoot_;
    std::shared_ptr<ze::platform::SocBackend> backend_;
};

}  // namespace

BoardConfig withOverrides(BoardConfig board, const Overrides& overrides)
{
    if (overrides.bus) board.i2cBus = static_cast<std::uint8_t>(*overrides.bus);
    if (overrides.addr7) board.vcomAddr = static_cast<std::uint8_t>(*overrides.addr7 << 1);
    if (overrides.chip != nullptr) board.typeIdx = overrides.chip->typeIdx;
    return board;
}

RootVariable::~RootVariable()
{
    if (!changed_) return;
    if (saved_) {
        setenv(kRootVariable, saved_->c_str(), 1);
    } else {
        unsetenv(kRootVariable);
    }
}

void RootVariable::point(const std::string& root)
{
    if (!changed_) {
        if (const char* current = std::getenv(kRootVariable)) saved_ = std::string(current);
        changed_ = true;
    }
    setenv(kRootVariable, root.c_str(), 1);
}

ze::platform::VcomBoardRead readBoardUnder(const std::string& root)
{
    RootVariable variable;
    if (!root.empty()) variable.point(root);
    return ze::platform::readVcomBoard();
}

std::unique_ptr<PlatformSetup> PlatformSetup::plan(const Options& options, Failure* failure)
{
    if (!options.simChip.empty() || !options.simState.empty())
        return planSimulatedPanel(options, nullptr, failure);
    std::error_code failed;
    const std::string root =
        options.root.empty() ? "" : fs::absolute(options.root, failed).lexically_normal().string();
    auto board = std::make_unique<BoardSetup>(options, root);
    if (!options.dryRun) return board;
    const ze::platform::VcomBoardRead read{board->board(), 0, board->boardProblem()};
    return planSimulatedPanel(options, &read, failure);
}

#ifndef VCOMCTL_WITH_SIM
// Refused with the command line.
std::unique_ptr<PlatformSetup> planSimulatedPanel(const Options&,
                                                  const ze::platform::VcomBoardRead*, Failure*)
{
    return nullptr;
}
#endif

}  // namespace vcomctl
