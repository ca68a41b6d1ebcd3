#include <ze/platform/env_setup.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace ze {
namespace platform {
namespace {

constexpr std::size_t kMinSize = 16;

std::uint32_t crc32(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

int makeDirectories(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
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
    if (root.empty() || size < kMinSize) return -EINVAL;
    if (root.find_first_of(" \t\r\n") != std::string::npos) return -EINVAL;

    int status = makeDirectories(root);
    if (status != 0) return status;
    char absolute[PATH_MAX];
    if (realpath(root.c_str(), absolute) == nullptr) return -errno;
    const std::string base = absolute;
    if (base.find_first_of(" \t\r\n") != std::string::npos) return -EINVAL;
    const std::string dir = base == "/" ? "" : base;
    if ((status = makeDirectories(dir + "/etc")) != 0) return status;
    if ((status = makeDirectories(dir + "/var")) != 0) return status;

    const std::string files[2] = {dir + "/var/uboot.env", dir + "/var/uboot-redund.env"};
    const int copies = redundant ? 2 : 1;
    std::string config = "# env file, offset, size of each copy\n";
    for (int i = 0; i < copies; ++i) {
        status = writeFile(files[i], emptyCopy(size, redundant, i == 0 ? 1 : 0));
        if (status != 0) return status;
        config += files[i] + " 0x0 " + hex(size) + "\n";
    }
    return writeFile(dir + "/etc/fw_env.config",
                     std::vector<std::uint8_t>(config.begin(), config.end()));
}

}  // namespace platform
}  // namespace ze
