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

#include <tvconfig/configutil.h>
#include <ze/platform/linux_backend.h>
#include <ze/platform/paths.h>

#include "vcomic/VCOMICdriver.h"

#ifdef VCOMCTL_WITH_SIM
#include "sim_setup.h"
#else
namespace vcomctl {
// Without the simulator nothing is ever simulated.
class SimulatedPanel {
public:
    static std::unique_ptr<SimulatedPanel> plan(const Options&, const DriverFields*,
                                                Failure* failure)
    {
        failure->exitCode = kExitUsage;
        failure->error = "this vcomctl was built without the simulated panel";
        return nullptr;
    }
    bool install(Failure*) { return false; }
    const DriverFields& fields() const { return fields_; }
    const std::string& root() const { return root_; }
    bool keepsState() const { return false; }
    std::shared_ptr<ze::platform::SocBackend> backend() const { return nullptr; }
    bool beginCommand(std::string*) { return true; }
    bool keepState(std::string*) { return true; }
    std::optional<unsigned int> heldValue() const { return std::nullopt; }
    void removePrivateRoot() {}

private:
    DriverFields fields_;
    std::string root_;
};
}  // namespace vcomctl
#endif

namespace vcomctl {
namespace {

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";
constexpr const char* kVcomSection = "[VCOM]";
constexpr const char* kBoardKeys[] = {"TypeIdx",    "I2cBus",  "VcomAddr",     "GpioAddr",
                                      "GpioStatus", "LdmFlag", "I2cSwitchType"};
constexpr int kValueRoom = 64;
// The config reader's line buffer (inih's INI_MAX_LINE), its newline included.
constexpr std::size_t kMaxBoardLine = 199;

bool hasKey(const std::string& key)
{
    char value[kValueRoom];
    return tvConfig::ConfigUtil::instance()->getIniValue(kBoardFile, kVcomSection, key.c_str(),
                                                         value, sizeof value) != 0;
}

std::string checkBoardFile()
{
    const std::string path = ze::platform::resolvePath(kBoardFile);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": cannot read the board file (" + std::strerror(errno) + ")";
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    if (!regular) return path + ": the board file is not a regular file";
    std::ifstream in(path);
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.size() + 1 > kMaxBoardLine) {
            return path + ":" + std::to_string(number) + ": line over " +
                   std::to_string(kMaxBoardLine) +
                   " bytes with its newline, more than the config reader takes";
        }
    }
    if (std::none_of(std::begin(kBoardKeys), std::end(kBoardKeys), hasKey)) {
        return path + ": no [VCOM] section with the panel's VCOM chip";
    }
    if (!hasKey("TypeIdx")) return path + ": [VCOM] has no TypeIdx naming the chip";
    return "";
}

}  // namespace

DriverFields fieldsOf(const ze::ic::VCOMICDriver& driver)
{
    return DriverFields{driver.typeIdx,    driver.i2cBus,  driver.vcomAddr,     driver.gpioAddr,
                        driver.gpioStatus, driver.ldmFlag, driver.i2cSwitchType};
}

DriverFields withOverrides(DriverFields fields, const Overrides& overrides)
{
    if (overrides.bus) fields.i2cBus = *overrides.bus;
    if (overrides.addr7) fields.vcomAddr = *overrides.addr7 << 1;
    if (overrides.chip != nullptr) fields.typeIdx = overrides.chip->typeIdx;
    return fields;
}

std::string vcomSection(const DriverFields& f)
{
    return "[VCOM]\nTypeIdx = " + std::to_string(f.typeIdx) +
           "\nI2cBus = " + std::to_string(f.i2cBus) + "\nVcomAddr = " + std::to_string(f.vcomAddr) +
           "\nGpioAddr = " + std::to_string(f.gpioAddr) +
           "\nGpioStatus = " + std::to_string(f.gpioStatus) +
           "\nLdmFlag = " + std::to_string(f.ldmFlag) +
           "\nI2cSwitchType = " + std::to_string(f.i2cSwitchType) + "\n";
}

DriverFields readBoardFields(DriverLog& log, std::string* problem)
{
    *problem = checkBoardFile();
    ze::ic::VCOMICDriver probe(0, nullptr);
    log.quietly([&probe] { probe.Get_Vcom_DataSeparation(); });
    return fieldsOf(probe);
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

std::unique_ptr<PlatformSetup> PlatformSetup::plan(const Options& options, DriverLog& log,
                                                   Failure* failure)
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
    setup->board_ = withOverrides(readBoardFields(log, &setup->boardProblem_), options.overrides);
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
    const std::filesystem::path board = overlay_->path() + kBoardFile;
    if (!failed) std::filesystem::create_directories(board.parent_path(), failed);
    if (failed) {
        failure->error = "cannot prepare the board overrides under " + overlay_->path() + ": " +
                         failed.message();
        return false;
    }
    std::ofstream(board) << vcomSection(board_);
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

std::function<std::optional<unsigned int>()> PlatformSetup::simulatedHeldValue() const
{
    if (!sim_) return nullptr;
    const SimulatedPanel* sim = sim_.get();
    return [sim] { return sim->heldValue(); };
}

void PlatformSetup::emergencyCleanup()
{
    if (sim_) sim_->removePrivateRoot();
    if (overlay_) overlay_->remove();
}

}  // namespace vcomctl
