#include "platform_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <tvconfig/configutil.h>
#include <ze/platform/env_setup.h>
#include <ze/platform/linux_backend.h>
#include <ze/platform/paths.h>
#include <ze/sim/board.h>
#include <ze/sim/panel.h>

#include "chips.h"

namespace vcomctl {
namespace {

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";

// strtoul with base 0, pinned to 32 bits as the driver reads the board file.
std::uint32_t configNumber(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    errno = 0;
    const unsigned long long magnitude = std::strtoull(p, nullptr, 0);
    if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

std::optional<std::uint32_t> lookup(const char* key)
{
    char value[256] = {};
    if (tvConfig::ConfigUtil::instance()->getIniValue(kBoardFile, "[VCOM]", key, value,
                                                      sizeof value) == 0) {
        return std::nullopt;
    }
    return configNumber(value);
}

std::string errnoText(int negativeErrno)
{
    return std::strerror(negativeErrno < 0 ? -negativeErrno : negativeErrno);
}

ze::sim::PanelConfig panelFor(int typeIdx, const BoardConfig& board)
{
    ze::sim::PanelConfig panel;
    panel.chip = static_cast<ze::sim::ChipType>(typeIdx);
    panel.bus = board.i2cBus;
    panel.vcomAddr = board.vcomAddr;
    panel.gpioAddr = board.gpioAddr;
    panel.gpioStatus = board.gpioStatus;
    panel.ldmFlag = board.ldmFlag;
    panel.i2cSwitchType = board.i2cSwitchType;
    return panel;
}

}  // namespace

std::optional<BoardConfig> readBoardConfig(std::string* error)
{
    const std::string path = ze::platform::resolvePath(kBoardFile);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = "no board file: " + path + " (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    BoardConfig board;
    if (auto v = lookup("TypeIdx")) board.typeIdx = static_cast<int>(*v);
    if (auto v = lookup("I2cBus")) board.i2cBus = static_cast<std::uint8_t>(*v);
    if (auto v = lookup("VcomAddr")) board.vcomAddr = static_cast<std::uint8_t>(*v);
    if (auto v = lookup("GpioAddr")) board.gpioAddr = static_cast<std::uint8_t>(*v);
    if (auto v = lookup("GpioStatus")) board.gpioStatus = *v;
    if (auto v = lookup("LdmFlag")) board.ldmFlag = static_cast<std::uint8_t>(*v);
    if (auto v = lookup("I2cSwitchType")) board.i2cSwitchType = static_cast<std::uint8_t>(*v);
    return board;
}

std::unique_ptr<PlatformSetup> PlatformSetup::prepare(const Options& options, std::string* error)
{
    std::unique_ptr<PlatformSetup> setup(new PlatformSetup);
    if (!setup->setRoot(options, error)) return nullptr;
    const bool installed = options.simChip.empty() ? setup->installConfiguredBackend(error)
                                                   : setup->installSimulatedPanel(options, error);
    if (!installed) return nullptr;
    std::optional<BoardConfig> board = readBoardConfig(error);
    if (!board) return nullptr;
    setup->board_ = *board;
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
    const ze::sim::PanelConfig panel = panelFor(chip->typeIdx, BoardConfig{});
    auto board = ze::sim::makeDefaultBoard();
    try {
        ze::sim::installPanel(*board, panel);
    } catch (const std::exception& e) {
        *error = std::string("the simulated board cannot model a ") + chip->name + " panel: " +
                 e.what();
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

bool PlatformSetup::installConfiguredBackend(std::string* error)
{
    std::string backendError;
    if (std::shared_ptr<ze::platform::SocBackend> hardware =
            ze::platform::makeConfiguredBackend(&backendError)) {
        backend_ = hardware;
        ze::platform::setSocBackend(backend_);
        return true;
    }
    if (!backendError.empty()) {
        *error = backendError;
        return false;
    }

    // No hardware configured: a simulated panel of the chip the board file names.
    std::optional<BoardConfig> board = readBoardConfig(error);
    if (!board) return false;
    const ChipInfo* chip = chipByTypeIdx(board->typeIdx);
    if (chip == nullptr) {
        *error = ze::platform::resolvePath(kBoardFile) + ": TypeIdx " +
                 std::to_string(board->typeIdx) +
                 " is no chip a simulated panel can have (see vcomctl chips)";
        return false;
    }
    auto simulated = ze::sim::makeDefaultBoard();
    try {
        ze::sim::installPanel(*simulated, panelFor(chip->typeIdx, *board));
    } catch (const std::exception& e) {
        *error = std::string("the simulated board cannot model a ") + chip->name + " panel: " +
                 e.what();
        return false;
    }
    backend_ = simulated;
    ze::platform::setSocBackend(backend_);
    notice_ = "no hardware backend is configured in " +
              ze::platform::resolvePath("/etc/zeplatform.conf") + "; using a simulated " +
              chip->name + " panel";
    return true;
}

}  // namespace vcomctl
