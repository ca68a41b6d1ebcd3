#include <ze/platform/vcom_board.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <tvconfig/configutil.h>
#include <ze/platform/paths.h>

#include "ini_text.h"

namespace ze {
namespace platform {
namespace {

constexpr const char* kVcomSection = "[VCOM]";
// Room for a value as the driver reads it.
constexpr int kValueRoom = 256;
constexpr mode_t kFileMode = 0644;

constexpr const char* kKeyNames[kVcomKeyCount] = {
    "TypeIdx", "I2cBus", "VcomAddr", "GpioAddr", "GpioStatus", "LdmFlag", "I2cSwitchType",
};

VcomKey keyAt(unsigned int index)
{
    return static_cast<VcomKey>(index);
}

// What keeps the driver from reading the file as the board meant it; the
// config reader is silent about a missing file and skips a refused one.
std::string fileProblem(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": cannot read the board file (" + std::strerror(errno) + ")";
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::string text;
    if (regular) {
        char chunk[4096];
        ssize_t count;
        while ((count = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, count);
    }
    close(fd);
    if (!regular) return path + ": the board file is not a regular file";
    const IniOutcome outcome = parseIniText(
        text.data(), text.size(),
        [](void*, unsigned int, const char*, const char*, const char*) { return 1; }, nullptr);
    if (outcome.overlongLine != 0) {
        return path + ":" + std::to_string(outcome.overlongLine) + ": line over " +
               std::to_string(outcome.lineLimit + 1) +
               " bytes with its newline, more than the config reader takes";
    }
    return "";
}

}  // namespace

const char* vcomKeyName(VcomKey key)
{
    const auto index = static_cast<unsigned int>(key);
    return index < kVcomKeyCount ? kKeyNames[index] : "?";
}

std::uint32_t parseVcomNumber(const char* text)
{
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        if (std::isspace(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-') return 0;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(p, nullptr, 0);
    if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

void setVcomKey(VcomBoardConfig& config, VcomKey key, std::uint32_t number)
{
    const auto byte = static_cast<std::uint8_t>(number);
    switch (key) {
        case VcomKey::TypeIdx:
            config.typeIdx = static_cast<int>(number);
            break;
        case VcomKey::I2cBus:
            config.i2cBus = byte;
            break;
        case VcomKey::VcomAddr:
            config.vcomAddr = byte;
            break;
        case VcomKey::GpioAddr:
            config.gpioAddr = byte;
            break;
        case VcomKey::GpioStatus:
            config.gpioStatus = number;
            break;
        case VcomKey::LdmFlag:
            config.ldmFlag = byte;
            break;
        case VcomKey::I2cSwitchType:
            config.i2cSwitchType = byte;
            break;
    }
}

VcomBoardRead readVcomBoard()
{
    VcomBoardRead result;
    char value[kValueRoom];
    for (unsigned int i = 0; i < kVcomKeyCount; ++i) {
        std::memset(value, 0, sizeof value);
        if (tvConfig::ConfigUtil::instance()->getIniValue(kBoardFile, kVcomSection, kKeyNames[i],
                                                          value, sizeof value) == 0) {
            continue;
        }
        setVcomKey(result.config, keyAt(i), parseVcomNumber(value));
        result.present |= 1u << i;
    }
    const std::string path = resolvePath(kBoardFile);
    result.problem = fileProblem(path);
    if (!result.problem.empty()) return result;
    if (result.present == 0) {
        result.problem = path + ": no [VCOM] section with the panel's VCOM chip";
    } else if (!result.has(VcomKey::TypeIdx)) {
        result.problem = path + ": [VCOM] has no TypeIdx naming the chip";
    }
    return result;
}

std::string vcomBoardSection(const VcomBoardConfig& config)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "[VCOM]\n"
                  "TypeIdx = %d\n"
                  "I2cBus = %u\n"
                  "VcomAddr = 0x%02X\n"
                  "GpioAddr = %u\n"
                  "GpioStatus = %u\n"
                  "LdmFlag = %u\n"
                  "I2cSwitchType = %u\n",
                  config.typeIdx, unsigned{config.i2cBus}, unsigned{config.vcomAddr},
                  unsigned{config.gpioAddr}, unsigned{config.gpioStatus}, unsigned{config.ldmFlag},
                  unsigned{config.i2cSwitchType});
    return text;
}

int writeVcomBoard(const std::string& root, const VcomBoardConfig& config)
{
    const std::filesystem::path path = root + kBoardFile;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) return -error.value();
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) return -errno;
    const std::string text = vcomBoardSection(config);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int saved = errno;
    if (close(fd) != 0 || !written) return written ? -EIO : -(saved != 0 ? saved : EIO);
    return 0;
}

}  // namespace platform
}  // namespace ze
