#include <cstdlib>
#include <memory>

#include <libuboot.h>

#include <ze/platform/paths.h>

#include "runner.h"

namespace vcomctl {

std::optional<unsigned int> storedVcomValue(std::string* error)
{
    const std::string config = ze::platform::resolvePath("/etc/fw_env.config");
    struct uboot_ctx* raw = nullptr;
    if (libuboot_initialize(&raw, nullptr) < 0) {
        *error = "the environment library cannot start";
        return std::nullopt;
    }
    const std::unique_ptr<uboot_ctx, void (*)(uboot_ctx*)> ctx(raw, libuboot_exit);
    if (libuboot_read_config(ctx.get(), config.c_str()) < 0 || libuboot_open(ctx.get()) < 0) {
        *error = "the environment store " + config + " cannot be read back";
        return std::nullopt;
    }
    const std::unique_ptr<char, void (*)(void*)> text(libuboot_get_env(ctx.get(), "vcom_value"),
                                                      std::free);
    libuboot_close(ctx.get());
    char* end = nullptr;
    const unsigned long value = text ? std::strtoul(text.get(), &end, 10) : 0;
    if (!text || end == text.get() || *end != '\0') {
        *error = "the environment store " + config + " holds no vcom_value number";
        return std::nullopt;
    }
    return static_cast<unsigned int>(value);
}

}  // namespace vcomctl
