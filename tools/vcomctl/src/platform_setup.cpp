#include "platform_setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <ze/platform/linux_backend.h>
#include <ze/platform/paths.h>

#ifdef VCOMCTL_WITH_SIM
#include "sim_setup.h"
#else
namespace vcomctl {
// Without the simulator nothing is ever simulated.
class SimulatedPanel {
public:
    // Refused with the command line.
    static std::unique_ptr<SimulatedPanel> plan(const Options&, const BoardConfig*, Failure*)
    {
        return nullptr;
    }
    bool install(Failure*) { return false; }
    const BoardConfig& fields() const { return fields_; }
    const std::string& root() const { return root_; }
    bool keepsState() const { return false; }
    std::shared_ptr<ze::platform::SocBackend> backend() const { return nullptr; }
    bool beginCommand(std::string*) { return true; }
    bool keepState(std::string*) { return true; }
    std::unique_ptr<ze::vcomcal::Meter> flickerMeter(const CalibrateOptions&, const ChipInfo&) const
    {
        return nullptr;
    }
    void removePrivateRoot() {}

private:
    BoardConfig fields_;
    std::string root_;
};
}  // namespace vcomctl
#endif

namespace vcomctl {
namespace {

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";

}  // namespace

BoardConfig withOverrides(BoardConfig board, const Overrides& overrides)
{
    if (overrides.bus) board.i2cBus = static_cast<std::uint8_t>(*overrides.bus);
    if (overrides.addr7) board.vcomAddr = static_cast<std::uint8_t>(*overrides.addr7 << 1);
    if (overrides.chip != nullptr) board.typeIdx = overrides.chip->typeIdx;
    return board;
}

std::unique_ptr<PrivateDir> PrivateDir::create(std::string* error)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vcomctl-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        *error = "cannot create a private root in " + pattern.substr(0, pattern.rfind('/')) + ": " +
                 std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<PrivateDir> dir(new PrivateDir);
    dir->path_ = pattern;
    return dir;
}

void PrivateDir::remove()
{
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
}

PlatformSetup::PlatformSetup()
{
    if (const char* current = std::getenv(kRootVariable)) previousRootEnv_ = std::string(current);
}

PlatformSetup::~PlatformSetup()
{
    if (backend_) ze::platform::setSocBackend(nullptr);
    if (rootEnvChanged_) {
        if (previousRootEnv_) {
            setenv(kRootVariable, previousRootEnv_->c_str(), 1);
        } else {
            unsetenv(kRootVariable);
        }
    }
}

void PlatformSetup::pointAt(const std::string& root)
{
    setenv(kRootVariable, root.c_str(), 1);
    rootEnvChanged_ = true;
}

std::unique_ptr<PlatformSetup> PlatformSetup::plan(const Options& options, Failure* failure)
{
    std::unique_ptr<PlatformSetup> setup(new PlatformSetup);
    setup->options_ = &options;
    if (!options.simChip.empty() || !options.simState.empty()) {
        setup->sim_ = SimulatedPanel::plan(options, nullptr, failure);
        if (!setup->sim_) return nullptr;
        setup->board_ = setup->sim_->fields();
        return setup;
    }
    if (!options.root.empty()) {
        std::error_code failed;
        setup->userRoot_ = std::filesystem::absolute(options.root, failed).lexically_normal();
        setup->pointAt(setup->userRoot_);
    } else {
        setup->userRoot_ = ze::platform::platformRoot();
    }
    ze::platform::VcomBoardRead read = ze::platform::readVcomBoard();
    setup->boardProblem_ = std::move(read.problem);
    setup->board_ = withOverrides(read.config, options.overrides);
    if (options.dryRun) {
        setup->sim_ = SimulatedPanel::plan(options, &setup->board_, failure);
        if (!setup->sim_) return nullptr;
    }
    return setup;
}

bool PlatformSetup::install(Failure* failure)
{
    failure->exitCode = kExitFailed;
    if (sim_) {
        if (!sim_->install(failure)) return false;
        pointAt(sim_->root());
        if (!sim_->keepsState()) userRoot_.clear();
        backend_ = sim_->backend();
    } else {
        if (options_->overrides.any() && !overlayBoard(failure)) return false;
        backend_ = ze::platform::makeConfiguredBackend(&failure->error);
        if (!backend_) return false;
    }
    ze::platform::setSocBackend(backend_);
    return true;
}

// The user's root seen through a private one whose board file carries the
// overrides; everything else is the user's, by symbolic link.
bool PlatformSetup::overlayBoard(Failure* failure)
{
    overlay_ = PrivateDir::create(&failure->error);
    if (!overlay_) return false;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(userRoot_, failed)) {
        if (entry.path().filename() == "obdata") continue;
        std::filesystem::create_symlink(entry.path(), overlay_->path() / entry.path().filename(),
                                        failed);
        if (failed) break;
    }
    if (!failed)
        failed.assign(-ze::platform::writeVcomBoard(overlay_->path(), board_),
                      std::generic_category());
    if (failed) {
        failure->error = "cannot prepare the board overrides under " + overlay_->path() + ": " +
                         failed.message();
        return false;
    }
    pointAt(overlay_->path());
    return true;
}

bool PlatformSetup::simulated() const
{
    return sim_ != nullptr;
}

std::string PlatformSetup::configurationGap(unsigned int bus) const
{
    if (sim_ || !backend_) return "";
    const std::vector<unsigned int> buses = backend_->buses();
    if (std::find(buses.begin(), buses.end(), bus) != buses.end()) return "";
    const std::string root = userRoot_ == "/" ? "" : userRoot_;
    return "bus " + std::to_string(bus) + " is not in [i2c] buses of " + root +
           "/etc/zeplatform.conf";
}

bool PlatformSetup::beginCommand(std::string* error)
{
    return !sim_ || sim_->beginCommand(error);
}

bool PlatformSetup::keepState(std::string* error)
{
    return !sim_ || sim_->keepState(error);
}

SimulatedMeter PlatformSetup::simulatedMeter() const
{
    if (!sim_) return nullptr;
    const SimulatedPanel* sim = sim_.get();
    return [sim](const CalibrateOptions& options, const ChipInfo& chip) {
        return sim->flickerMeter(options, chip);
    };
}

void PlatformSetup::emergencyCleanup()
{
    if (sim_) sim_->removePrivateRoot();
    if (overlay_) overlay_->remove();
}

}  // namespace vcomctl
