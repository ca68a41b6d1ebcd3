#include "platform_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <ze/platform/env_setup.h>
#include <ze/platform/linux_backend.h>
#include <ze/platform/paths.h>
#include <ze/sim/board.h>
#include <ze/sim/panel.h>

#include "chips.h"
#include "vcomic/VCOMICdriver.h"

namespace vcomctl {
namespace {

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";

std::string errnoText(int negativeErrno)
{
    return std::strerror(negativeErrno < 0 ? -negativeErrno : negativeErrno);
}

}  // namespace

DriverFields fieldsOf(const ze::ic::VCOMICDriver& driver)
{
    DriverFields fields;
    fields.typeIdx = driver.typeIdx;
    fields.i2cBus = driver.i2cBus;
    fields.vcomAddr = driver.vcomAddr;
    fields.gpioAddr = driver.gpioAddr;
    fields.gpioStatus = driver.gpioStatus;
    fields.ldmFlag = driver.ldmFlag;
    fields.i2cSwitchType = driver.i2cSwitchType;
    return fields;
}

std::optional<DriverFields> readBoardFields(DriverLog& log, std::string* error)
{
    const std::string path = ze::platform::resolvePath(kBoardFile);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = "no board file: " + path + " (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    ze::ic::VCOMICDriver probe(0, nullptr);
    log.quietly([&probe] { probe.Get_Vcom_DataSeparation(); });
    return fieldsOf(probe);
}

std::unique_ptr<PlatformSetup> PlatformSetup::prepare(const Options& options, DriverLog& log,
                                                      std::string* error)
{
    std::unique_ptr<PlatformSetup> setup(new PlatformSetup);
    if (!setup->setRoot(options, error)) return nullptr;
    const bool installed = options.simChip.empty() ? setup->installConfiguredBackend(log, error)
                                                   : setup->installSimulatedPanel(options, error);
    if (!installed) return nullptr;
    if (!setup->board_) setup->board_ = readBoardFields(log, error);
    if (!setup->board_) return nullptr;
    return setup;
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
    if (temporaryRoot_) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

bool PlatformSetup::setRoot(const Options& options, std::string* error)
{
    if (const char* current = std::getenv(kRootVariable)) previousRootEnv_ = std::string(current);

    if (!options.root.empty()) {
        std::error_code failed;
        root_ = std::filesystem::absolute(options.root, failed).lexically_normal().string();
        if (failed) {
            *error = "cannot use root " + options.root + ": " + failed.message();
            return false;
        }
    } else if (!options.simChip.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vcomctl-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            *error = "cannot create a temporary root in " + pattern.substr(0, pattern.rfind('/')) +
                     ": " + std::strerror(errno);
            return false;
        }
        root_ = pattern;
        temporaryRoot_ = true;
    } else {
        root_ = ze::platform::platformRoot();
        return true;
    }
    setenv(kRootVariable, root_.c_str(), 1);
    rootEnvChanged_ = true;
    return true;
}

bool PlatformSetup::installSimulatedPanel(const Options& options, std::string* error)
{
    const ChipInfo* chip = chipByName(options.simChip);
    if (chip == nullptr) {
        *error = "unknown chip '" + options.simChip + "' (valid: " + chipNames() + ")";
        return false;
    }
    ze::sim::PanelConfig panel;
    panel.chip = static_cast<ze::sim::ChipType>(chip->typeIdx);
    auto board = ze::sim::makeDefaultBoard();
    try {
        ze::sim::installPanel(*board, panel);
    } catch (const std::exception& e) {
        *error =
            std::string("the simulated board cannot model a ") + chip->name + " panel: " + e.what();
        return false;
    }
    if (const int status = ze::sim::writeBoardIni(root_, panel)) {
        *error = "cannot write " + ze::platform::resolvePath(kBoardFile) + ": " + errnoText(status);
        return false;
    }
    if (const int status = ze::platform::createEnvStore(root_)) {
        *error = "cannot create the environment store under " + root_ + ": " + errnoText(status);
        return false;
    }
    backend_ = board;
    ze::platform::setSocBackend(backend_);
    return true;
}

bool PlatformSetup::installConfiguredBackend(DriverLog& log, std::string* error)
{
    std::string backendError;
    if (std::shared_ptr<ze::platform::SocBackend> hardware =
            ze::platform::makeConfiguredBackend(&backendError)) {
        backend_ = hardware;
        ze::platform::setSocBackend(backend_);
        return true;
    }
    *error = backendError;
    return false;
}

}  // namespace vcomctl
