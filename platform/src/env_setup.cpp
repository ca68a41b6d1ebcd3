#include <ze/platform/env_setup.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "log.h"

namespace ze {
namespace platform {
namespace {

constexpr std::size_t kMinSize = 16;
constexpr const char* kBlanks = " \t\r\n\v\f";

std::uint32_t crc32(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

int makeDirectories(const std::filesystem::path& path, std::string* failed)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) *failed = path.string();
    return error ? -error.value() : 0;
}

int writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return -errno;
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int savedErrno = errno;
    if (std::fclose(file) != 0 && written) return -errno;
    return written ? 0 : -(savedErrno != 0 ? savedErrno : EIO);
}

std::vector<std::uint8_t> emptyCopy(std::size_t size, bool redundant, std::uint8_t flag)
{
    const std::size_t header = redundant ? 5 : 4;
    std::vector<std::uint8_t> copy(size, 0);
    const std::uint32_t crc = crc32(copy.data() + header, size - header);
    for (int i = 0; i < 4; ++i) copy[i] = static_cast<std::uint8_t>(crc >> (8 * i));
    if (redundant) copy[4] = flag;
    return copy;
}

std::string hex(std::size_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%zX", value);
    return text;
}

}  // namespace

int createEnvStore(const std::string& root, std::size_t size, bool redundant)
{
    if (root.empty() || size < kMinSize) {
        ZE_LOG_ERROR("cannot create an env store: %s",
                     root.empty() ? "no root directory given" : "copies need 16 bytes");
        return -EINVAL;
    }
    std::error_code error;
    const std::filesystem::path base = std::filesystem::absolute(root, error).lexically_normal();
    // libubootenv splits its lines at whitespace: under a root that holds
    // some, the env files are named relative to it (see env_setup.h).
    const bool relative = base.string().find_first_of(kBlanks) != std::string::npos;
    const std::string names[2] = {"var/uboot.env", "var/uboot-redund.env"};
    std::string config = "# env file, offset, size of each copy\n";
    int status = error ? -error.value() : 0;
    std::string failed = root;
    if (status == 0) status = makeDirectories(base / "etc", &failed);
    if (status == 0) status = makeDirectories(base / "var", &failed);
    for (int i = 0; status == 0 && i < (redundant ? 2 : 1); ++i) {
        const std::string file = (base / names[i]).string();
        status = writeFile(file, emptyCopy(size, redundant, i == 0 ? 1 : 0));
        failed = file;
        config += (relative ? names[i] : file) + " 0x0 " + hex(size) + "\n";
    }
    if (status == 0) {
        failed = (base / "etc/fw_env.config").string();
        status = writeFile(failed, std::vector<std::uint8_t>(config.begin(), config.end()));
    }
    if (status != 0) {
        ZE_LOG_ERROR("cannot create an env store: %s: %s", failed.c_str(), std::strerror(-status));
    }
    return status;
}

}  // namespace platform
}  // namespace ze
