#include <cerrno>
#include <cstdlib>

#include <flashenv.h>
#include <ze/platform/paths.h>

#include "runner.h"

namespace vcomctl {

std::optional<unsigned int> storedVcomValue(std::string* error)
{
    const std::string store = ze::platform::resolvePath("/etc/fw_env.config");
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

}  // namespace vcomctl
