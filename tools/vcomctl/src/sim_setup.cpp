#include "sim_setup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <random>

#include <ze/platform/env_setup.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/flicker_panel.h>

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

constexpr const char* kMarkerKey = "chip ";

std::string errnoText(int status)
{
    return std::strerror(status < 0 ? -status : status);
}

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
constexpr std::size_t kMarkerRoom = 64;

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
    const int fd = openat(dirFd, SimulatedPanel::kMarkerFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    char text[kMarkerRoom] = {};
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    const std::string line(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    if (line.rfind(kMarkerKey, 0) != 0 || line.back() != '\n') return nullptr;
    return catalogue::byName(
        line.substr(std::strlen(kMarkerKey), line.size() - std::strlen(kMarkerKey) - 1).c_str());
}

// Every status read of an Innolux chip answers `status`: more answers than
// any run reads.
bool forceInnoluxStatus(const ze::sim::Panel& panel, std::uint8_t status)
{
    constexpr std::size_t kAnswers = 4096;
    auto* chip = dynamic_cast<ze::sim::InnoluxChip*>(panel.chip.get());
    if (chip == nullptr) return false;
    chip->scriptStatus(std::vector<std::uint8_t>(kAnswers, status));
    return true;
}

}  // namespace

std::unique_ptr<SimulatedPanel> SimulatedPanel::plan(const Options& options,
                                                     const BoardConfig* board, Failure* failure)
{
    std::unique_ptr<SimulatedPanel> sim(new SimulatedPanel);
    sim->faults_ = options.simFaults;
    failure->exitCode = kExitUsage;
    const ChipInfo* chip =
        options.simChip.empty() ? nullptr : catalogue::byName(options.simChip.c_str());
    if (!options.simState.empty()) {
        std::error_code failed;
        sim->stateDir_ = std::filesystem::absolute(options.simState, failed).lexically_normal();
        struct stat info;
        sim->stateExists_ = lstat(sim->stateDir_.c_str(), &info) == 0;
        if (sim->stateExists_) {
            failure->error = sim->openStateDir();
            if (!failure->error.empty()) return nullptr;
            const ChipInfo* marked = markedChip(sim->dirFd_);
            if (marked == nullptr) {
                failure->error = sim->stateDir_ + ": not a state directory vcomctl created (no " +
                                 kMarkerFile + "); name a directory that does not exist yet";
                return nullptr;
            }
            if (chip != nullptr && chip != marked) {
                failure->error = sim->stateDir_ + " holds a simulated " + marked->name +
                                 " panel, not " + chip->name;
                return nullptr;
            }
            if (options.overrides.any()) {
                failure->error = sim->stateDir_ +
                                 " keeps its wiring; --bus, --addr and --chip "
                                 "apply only when it is created";
                return nullptr;
            }
            chip = marked;
        } else if (chip == nullptr) {
            failure->error = sim->stateDir_ + " does not exist yet: name its chip with --sim CHIP";
            return nullptr;
        }
    }
    if (board != nullptr) {
        sim->fields_ = *board;
    } else {
        BoardConfig fields;
        fields.typeIdx = chip->typeIdx;
        sim->fields_ = withOverrides(fields, options.overrides);
    }
    return sim;
}

const std::string& SimulatedPanel::root() const
{
    return private_ ? private_->path() : stateDir_;
}

SimulatedPanel::~SimulatedPanel()
{
    if (lockFd_ >= 0) close(lockFd_);
    if (dirFd_ >= 0) close(dirFd_);
}

// Refuses a directory through which another user could make this run write
// elsewhere: a link, or one that user may change.
std::string SimulatedPanel::openStateDir()
{
    dirFd_ = open(stateDir_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd_ < 0) {
        const bool link = errno == ELOOP || errno == ENOTDIR;
        return stateDir_ + ": " +
               (link ? "a symbolic link or no directory; name the state directory itself"
                     : std::string("cannot open: ") + std::strerror(errno));
    }
    struct stat info;
    if (fstat(dirFd_, &info) != 0) return stateDir_ + ": " + std::strerror(errno);
    std::string why = foreignEntry(info);
    if (!why.empty()) return stateDir_ + ": " + why + "; a state directory must be your own";
    for (const char* entry : kGuardedEntries) {
        if (fstatat(dirFd_, entry, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        why = foreignEntry(info);
        if (!why.empty()) return stateDir_ + "/" + entry + ": " + why + "; refused";
    }
    lockFd_ = openat(dirFd_, kLockFile, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    // Where the lock cannot be made, no run can write the state either.
    if (lockFd_ < 0 && errno != EACCES && errno != EROFS && errno != EPERM)
        return stateDir_ + "/" + kLockFile + ": " + std::strerror(errno);
    return "";
}

bool SimulatedPanel::createStateDir(Failure* failure)
{
    if (mkdir(stateDir_.c_str(), kDirMode) != 0) {
        failure->error = "cannot create " + stateDir_ + ": " + std::strerror(errno);
        return false;
    }
    failure->error = openStateDir();
    if (!failure->error.empty()) return false;
    const int fd = openat(dirFd_, kMarkerFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          kFileMode);
    const std::string text =
        std::string(kMarkerKey) + catalogue::byTypeIdx(fields_.typeIdx)->name + "\n";
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) close(fd);
    if (!written) {
        failure->error =
            "cannot write " + stateDir_ + "/" + kMarkerFile + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SimulatedPanel::loadState(std::string* error)
{
    std::string why;
    const int status = ze::sim::loadPanelState(panel_, dirFd_, kStateFile, &why);
    // No file yet: the run that created the directory never reached the chip.
    if (status != 0 && status != -ENOENT) {
        *error = stateFile() + ": " + (why.empty() ? errnoText(status) : why);
        if (status == -ELOOP) *error += " (a symbolic link; refused)";
        return false;
    }
    savedText_ = status == 0 ? ze::sim::panelStateText(panel_) : "";
    return true;
}

bool SimulatedPanel::beginCommand(std::string* error)
{
    if (!keepsState()) return true;
    while (lockFd_ >= 0 && flock(lockFd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = "cannot lock " + stateDir_ + "/" + kLockFile + ": " + std::strerror(errno);
            return false;
        }
    }
    if (loadState(error)) return true;
    unlock();
    return false;
}

void SimulatedPanel::unlock()
{
    if (lockFd_ >= 0) flock(lockFd_, LOCK_UN);
}

bool SimulatedPanel::install(Failure* failure)
{
    failure->exitCode = kExitFailed;
    if (stateDir_.empty()) {
        private_ = PrivateDir::create(&failure->error);
        if (!private_) return false;
    } else if (!stateExists_ && !createStateDir(failure)) {
        return false;
    }
    board_ = ze::sim::makeDefaultBoard();
    board_->setTraceEnabled(false);
    try {
        panel_ = ze::sim::installPanel(*board_, fields_);
    } catch (const std::exception& e) {
        failure->error = std::string("the simulated board cannot model this panel: ") + e.what();
        return false;
    }
    if (!stateExists_) {
        if (const int status = ze::platform::writeVcomBoard(root(), fields_)) {
            failure->error =
                "cannot write the board file under " + root() + ": " + errnoText(status);
            return false;
        }
        if (const int status = ze::platform::createEnvStore(root())) {
            failure->error =
                "cannot create the environment store under " + root() + ": " + errnoText(status);
            return false;
        }
    } else {
        if (!beginCommand(&failure->error)) return false;
        unlock();
    }
    return injectFaults(failure);
}

bool SimulatedPanel::injectFaults(Failure* failure)
{
    using ze::sim::Call;
    for (const Fault& fault : faults_) {
        switch (fault.kind) {
            case Fault::Kind::Absent:
                board_->failMatching(fields_.vcomAddr, std::nullopt, ze::sim::kAddressNack);
                break;
            case Fault::Kind::Status:
                if (!forceInnoluxStatus(panel_, static_cast<std::uint8_t>(fault.number))) {
                    failure->exitCode = kExitUsage;
                    failure->error =
                        "fault '" + fault.text + "': only the IN525 and IN518 report a status";
                    return false;
                }
                break;
            case Fault::Kind::Write:
                board_->failNth(Call::I2CWrite, fault.number, -EIO);
                break;
            case Fault::Kind::Read:
                board_->failNth(Call::I2CRead, fault.number, -EIO);
                break;
            case Fault::Kind::Gpio:
                board_->failNth(Call::GpioSetValue, fault.number, -EIO);
                break;
            case Fault::Kind::Open:
                board_->failNth(Call::I2COpen, fault.number, -EIO);
                break;
        }
    }
    return true;
}

bool SimulatedPanel::keepState(std::string* error)
{
    if (!keepsState()) return true;
    const std::string text = ze::sim::panelStateText(panel_);
    int status = 0;
    if (text != savedText_) status = ze::sim::savePanelState(panel_, dirFd_, kStateFile);
    if (status == 0) savedText_ = text;
    unlock();
    if (status != 0)
        *error = "cannot keep the simulated panel in " + stateFile() + ": " + errnoText(status);
    return status == 0;
}

std::optional<unsigned int> SimulatedPanel::heldValue() const
{
    return ze::sim::heldValue(panel_);
}

std::unique_ptr<ze::vcomcal::Meter> SimulatedPanel::flickerMeter(const CalibrateOptions& options,
                                                                 const ChipInfo& chip) const
{
    std::mt19937_64 random(options.simSeed);
    ze::vcomcal::FlickerPanel flicker = ze::vcomcal::populationFor(chip).draw(random);
    if (options.simOptimum) flicker.optimum = *options.simOptimum;
    if (options.simSlope) flicker.slopeBelow = flicker.slopeAbove = *options.simSlope;
    if (options.simFloor) flicker.floor = *options.simFloor;
    if (options.simNoise) flicker.noise = *options.simNoise;
    return ze::vcomcal::simulatedMeter(flicker, options.simSeed, [this] { return heldValue(); });
}

void SimulatedPanel::removePrivateRoot()
{
    if (private_) private_->remove();
}

}  // namespace vcomctl
