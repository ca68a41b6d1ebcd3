// The simulated panel standing in for the board, on the simulator's rig: for
// --sim in a fresh private root, for --sim-state in a directory the tool
// created and keeps, for --dry-run with the chip and wiring of the board file.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include <ze/sim/flicker_panel.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/rig.h>

#include "platform_setup.h"

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;
using ze::platform::VcomBoardRead;

// Marks a --sim-state directory as the tool's own and names its chip.
constexpr const char* kMarkerFile = ".vcomctl-sim-state";
constexpr const char* kMarkerKey = "chip ";
constexpr std::size_t kMarkerRoom = 64;
constexpr const char* kStateFile = "panel.state";
// Locked by each command's read-modify-write of the state; never renamed.
constexpr const char* kLockFile = ".lock";
// What a state directory holds besides the lock, the marker and the state:
// no entry may be a link, nor anyone else's to change. libubootenv opens the
// environment store by its path.
constexpr const char* kGuardedEntries[] = {
    "etc",           "etc/fw_env.config",    "var",
    "var/uboot.env", "var/uboot-redund.env", "obdata",
    "obdata/model",  "obdata/model/config",  "obdata/model/config/board.ini"};
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0644;
// Every status read of an Innolux chip answers the forced status: more
// answers than any run reads.
constexpr std::size_t kStatusAnswers = 4096;

std::string errnoText(int status)
{
    return std::strerror(status < 0 ? -status : status);
}

// "" when the entry is the caller's own and only the caller's to change.
std::string foreignEntry(const struct stat& info)
{
    if (S_ISLNK(info.st_mode)) return "a symbolic link";
    if (info.st_uid != geteuid())
        return "owned by uid " + std::to_string(info.st_uid) + ", not by this user";
    if ((info.st_mode & kOthersWrite) != 0) return "writable by group or others";
    return "";
}

// The chip a state directory was made for; nullptr when it is none of ours.
const ChipInfo* markedChip(int dirFd)
{
    const int fd = openat(dirFd, kMarkerFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    char text[kMarkerRoom] = {};
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    const std::string line(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t key = std::strlen(kMarkerKey);
    if (line.rfind(kMarkerKey, 0) != 0 || line.back() != '\n') return nullptr;
    return catalogue::byName(line.substr(key, line.size() - key - 1).c_str());
}

// Refuses a directory through which another user could make this run write
// elsewhere: a link, or one that user may change. *dirFd and *lockFd are
// set as far as it got.
std::string openStateDir(const std::string& dir, int* dirFd, int* lockFd)
{
    *dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (*dirFd < 0) {
        const bool link = errno == ELOOP || errno == ENOTDIR;
        return dir + ": " +
               (link ? "a symbolic link or no directory; name the state directory itself"
                     : std::string("cannot open: ") + std::strerror(errno));
    }
    struct stat info;
    if (fstat(*dirFd, &info) != 0) return dir + ": " + std::strerror(errno);
    std::string why = foreignEntry(info);
    if (!why.empty()) return dir + ": " + why + "; a state directory must be your own";
    for (const char* entry : kGuardedEntries) {
        if (fstatat(*dirFd, entry, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        why = foreignEntry(info);
        if (!why.empty()) return dir + "/" + entry + ": " + why + "; refused";
    }
    *lockFd = openat(*dirFd, kLockFile, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    // Where the lock cannot be made, no run can write the state either.
    if (*lockFd < 0 && errno != EACCES && errno != EROFS && errno != EPERM)
        return dir + "/" + kLockFile + ": " + std::strerror(errno);
    return "";
}

// The panel on the simulator's rig; a kept directory's state is loaded
// and saved around each command under its lock.
class SimulatedSetup : public PlatformSetup {
public:
    SimulatedSetup(const Options& options, VcomBoardRead board, std::string stateDir, int dirFd,
                   int lockFd)
        : PlatformSetup(std::move(board)),
          faults_(options.simFaults),
          stateDir_(std::move(stateDir)),
          stateExists_(dirFd >= 0),
          dirFd_(dirFd),
          lockFd_(lockFd)
    {
    }
    ~SimulatedSetup() override
    {
        if (lockFd_ >= 0) close(lockFd_);
        if (dirFd_ >= 0) close(dirFd_);
    }

    bool install(Failure* failure) override
    {
        if (!stateDir_.empty() && !stateExists_ && !createStateDir(&failure->error)) return false;
        // A kept directory is taken as it is, written to only by the commands
        // (a read-only one still serves a read).
        if (!lock(&failure->error)) return false;
        rig_ = ze::sim::Rig::create(
            ze::sim::RigSetup{board(), stateDir_, nullptr, !stateExists_, !stateExists_},
            &failure->error);
        const bool made = rig_ && (!stateExists_ || loadState(&failure->error));
        unlock();
        if (!made) return false;
        rig_->board().setTraceEnabled(false);
        if (!injectFaults(failure)) return false;
        rig_->activate();
        return true;
    }
    ze::platform::SocBackend& backend() const override { return rig_->board(); }
    std::string userRoot() const override { return stateDir_; }
    bool beginCommand(std::string* error) override
    {
        if (stateDir_.empty()) return true;
        if (!lock(error)) return false;
        if (loadState(error)) return true;
        unlock();
        return false;
    }
    bool keepState(std::string* error) override
    {
        if (stateDir_.empty()) return true;
        const std::string text = ze::sim::panelStateText(rig_->panel());
        int status = 0;
        if (text != savedText_) status = ze::sim::savePanelState(rig_->panel(), dirFd_, kStateFile);
        if (status == 0) savedText_ = text;
        unlock();
        if (status != 0)
            *error = "cannot keep the simulated panel in " + stateFile() + ": " + errnoText(status);
        return status == 0;
    }
    // A flicker meter on the panel: its flicker drawn from the options' seed
    // unless they set it.
    SimulatedMeter simulatedMeter() override
    {
        return [this](const CalibrateOptions& options, const ChipInfo& chip) {
            std::mt19937_64 random(options.simSeed);
            ze::vcomcal::FlickerPanel flicker = ze::vcomcal::populationFor(chip).draw(random);
            if (options.simOptimum) flicker.optimum = *options.simOptimum;
            if (options.simSlope) flicker.slopeBelow = flicker.slopeAbove = *options.simSlope;
            if (options.simFloor) flicker.floor = *options.simFloor;
            if (options.simNoise) flicker.noise = *options.simNoise;
            return ze::vcomcal::simulatedMeter(flicker, options.simSeed,
                                               ze::vcomcal::heldValueOf(rig_->panel()));
        };
    }
    void emergencyCleanup() override
    {
        std::error_code ignored;
        if (rig_ && rig_->root() != stateDir_) std::filesystem::remove_all(rig_->root(), ignored);
    }

private:
    bool createStateDir(std::string* error)
    {
        if (mkdir(stateDir_.c_str(), kDirMode) != 0) {
            *error = "cannot create " + stateDir_ + ": " + std::strerror(errno);
            return false;
        }
        *error = openStateDir(stateDir_, &dirFd_, &lockFd_);
        if (!error->empty()) return false;
        const int fd = openat(dirFd_, kMarkerFile,
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
        const std::string text =
            std::string(kMarkerKey) + catalogue::byTypeIdx(board().typeIdx)->name + "\n";
        const bool written =
            fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0) close(fd);
        if (!written)
            *error = "cannot write " + stateDir_ + "/" + kMarkerFile + ": " + std::strerror(errno);
        return written;
    }
    bool lock(std::string* error)
    {
        while (lockFd_ >= 0 && flock(lockFd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            *error = "cannot lock " + stateDir_ + "/" + kLockFile + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    void unlock()
    {
        if (lockFd_ >= 0) flock(lockFd_, LOCK_UN);
    }
    bool loadState(std::string* error)
    {
        std::string why;
        const int status = ze::sim::loadPanelState(rig_->panel(), dirFd_, kStateFile, &why);
        // No file yet: the run that created the directory never reached the chip.
        if (status != 0 && status != -ENOENT) {
            *error = stateFile() + ": " + (why.empty() ? errnoText(status) : why);
            if (status == -ELOOP) *error += " (a symbolic link; refused)";
            return false;
        }
        savedText_ = status == 0 ? ze::sim::panelStateText(rig_->panel()) : "";
        return true;
    }
    bool injectFaults(Failure* failure)
    {
        using ze::sim::Call;
        static const std::pair<Fault::Kind, Call> kFailingCalls[] = {
            {Fault::Kind::Write, Call::I2CWrite},
            {Fault::Kind::Read, Call::I2CRead},
            {Fault::Kind::Gpio, Call::GpioSetValue},
            {Fault::Kind::Open, Call::I2COpen},
        };
        ze::sim::Board& sim = rig_->board();
        for (const Fault& fault : faults_) {
            for (const auto& [kind, call] : kFailingCalls) {
                if (fault.kind == kind) sim.failNth(call, fault.number, -EIO);
            }
            if (fault.kind == Fault::Kind::Absent)
                sim.failMatching(board().vcomAddr, std::nullopt, ze::sim::kAddressNack);
            if (fault.kind != Fault::Kind::Status) continue;
            auto* chip = dynamic_cast<ze::sim::InnoluxChip*>(rig_->panel().chip.get());
            if (chip == nullptr) {
                failure->exitCode = kExitUsage;
                failure->error =
                    "fault '" + fault.text + "': only the IN525 and IN518 report a status";
                return false;
            }
            chip->scriptStatus(
                std::vector<std::uint8_t>(kStatusAnswers, static_cast<std::uint8_t>(fault.number)));
        }
        return true;
    }
    std::string stateFile() const { return stateDir_ + "/" + kStateFile; }

    const std::vector<Fault> faults_;
    const std::string stateDir_;  // empty: a private root
    const bool stateExists_;
    int dirFd_;
    int lockFd_;             // -1 also for a directory no one can write
    std::string savedText_;  // the state as the file holds it
    std::unique_ptr<ze::sim::Rig> rig_;
};

// An existing state directory: its own, its chip the one named if any, and
// its board file read under its lock.
std::string planKept(const Options& options, const std::string& dir, int dirFd, int lockFd,
                     VcomBoardRead* board)
{
    const ChipInfo* marked = markedChip(dirFd);
    if (marked == nullptr) {
        return dir + ": not a state directory vcomctl created (no " + kMarkerFile +
               "); name a directory that does not exist yet";
    }
    if (!options.simChip.empty() && catalogue::byName(options.simChip.c_str()) != marked)
        return dir + " holds a simulated " + marked->name + " panel, not " + options.simChip;
    if (options.overrides.any()) {
        return dir + " keeps its wiring; --bus, --addr and --chip apply only when it is created";
    }
    if (lockFd >= 0) flock(lockFd, LOCK_EX);
    *board = readBoardUnder(dir);
    if (lockFd >= 0) flock(lockFd, LOCK_UN);
    board->config.typeIdx = marked->typeIdx;
    return "";
}

}  // namespace

std::unique_ptr<PlatformSetup> planSimulatedPanel(const Options& options,
                                                  const VcomBoardRead* board, Failure* failure)
{
    failure->exitCode = kExitUsage;
    const ChipInfo* chip =
        options.simChip.empty() ? nullptr : catalogue::byName(options.simChip.c_str());
    VcomBoardRead read = board != nullptr ? *board : VcomBoardRead{};
    if (chip != nullptr) {
        read.config.typeIdx = chip->typeIdx;
        read.config = withOverrides(read.config, options.overrides);
    }
    std::string dir;
    int dirFd = -1;
    int lockFd = -1;
    if (!options.simState.empty()) {
        std::error_code failed;
        dir = std::filesystem::absolute(options.simState, failed).lexically_normal();
        struct stat info;
        if (lstat(dir.c_str(), &info) == 0) {
            failure->error = openStateDir(dir, &dirFd, &lockFd);
            if (failure->error.empty())
                failure->error = planKept(options, dir, dirFd, lockFd, &read);
        } else if (chip == nullptr) {
            failure->error = dir + " does not exist yet: name its chip with --sim CHIP";
        }
    }
    auto setup = std::make_unique<SimulatedSetup>(options, read, dir, dirFd, lockFd);
    if (!failure->error.empty()) return nullptr;
    failure->exitCode = kExitFailed;
    return setup;
}

}  // namespace vcomctl
