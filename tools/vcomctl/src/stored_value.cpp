#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <flashenv.h>
#include <ze/platform/paths.h>

#include "runner.h"

namespace vcomctl {
namespace {

constexpr const char* kEnvConfig = "/etc/fw_env.config";

}  // namespace

std::optional<unsigned int> storedVcomValue(std::string* error)
{
    const std::string store = ze::platform::resolvePath(kEnvConfig);
    std::string text;
    const int status = FlashEnv::instance()->getEnv("vcom_value", &text);
    if (status != 0) {
        *error = "the environment store " + store + " cannot be read back (" +
                 (status == -ENOENT ? std::string("no vcom_value")
                                    : "status " + std::to_string(status)) +
                 ")";
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') {
        *error = "the environment store " + store + " holds no vcom_value number";
        return std::nullopt;
    }
    return static_cast<unsigned int>(value);
}

std::string envStoreProblem()
{
    const std::string config = ze::platform::resolvePath(kEnvConfig);
    std::ifstream in(config);
    std::string file;
    for (std::string line; file.empty() && std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> file && file[0] == '#') file.clear();
    }
    if (file.empty()) return config + " names no environment file";
    // Relative paths are taken under the platform root, as FlashEnv takes them.
    if (file[0] != '/') file = ze::platform::resolvePath("/" + file);
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return "cannot write the environment store " + file + ": " + std::strerror(errno);
    close(fd);
    return "";
}

}  // namespace vcomctl
