#include <flashenv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <libuboot.h>

#include <ze/platform/paths.h>

#include "log.h"

namespace {

// libubootenv keeps no lock of its own: two stores at once could write the
// same copy. One store at a time within the process.
std::mutex& storeMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

const char* describe(int status)
{
    return status < 0 ? std::strerror(-status) : "failed";
}

bool isNumber(const char* text, int base)
{
    char* end = nullptr;
    errno = 0;
    std::strtoull(text, &end, base);
    return errno == 0 && end != text && *end == '\0';
}

// The number of the first line that is neither blank, nor a comment ('#' in
// the first column), nor "<env file> <offset> <size> ...", or 0. libubootenv
// skips such lines but leaks memory on each, so they are refused here. An
// unreadable file passes: libubootenv reports it.
int firstMalformedLine(const std::string& config)
{
    std::FILE* file = std::fopen(config.c_str(), "r");
    if (file == nullptr) return 0;
    int bad = 0;
    char line[1024];
    for (int number = 1; bad == 0 && std::fgets(line, sizeof line, file) != nullptr; ++number) {
        if (line[0] == '#') continue;
        char* fields[3] = {};
        int count = 0;
        for (char *save = nullptr, *field = strtok_r(line, " \t\r\n", &save);
             field != nullptr && count < 3; field = strtok_r(nullptr, " \t\r\n", &save)) {
            fields[count++] = field;
        }
        if (count == 0) continue;
        // libubootenv reads the offset in any C notation, the size in hex; it
        // leaks a line whose size is 0 as well.
        if (count < 3 || !isNumber(fields[1], 0) || !isNumber(fields[2], 16) ||
            std::strtoull(fields[2], nullptr, 16) == 0) {
            bad = number;
        }
    }
    std::fclose(file);
    return bad;
}

}  // namespace

FlashEnv* FlashEnv::instance()
{
    static FlashEnv* const env = new FlashEnv;
    return env;
}

FlashEnv::~FlashEnv() = default;

int FlashEnv::setEnv(const char* name, const char* value)
{
    if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr) {
        ZE_LOG_ERROR("invalid variable name '%s'", name != nullptr ? name : "(null)");
        return -1;
    }
    const std::string config = ze::platform::resolvePath("/etc/fw_env.config");
    std::lock_guard<std::mutex> lock(storeMutex());
    if (const int line = firstMalformedLine(config)) {
        ZE_LOG_ERROR("cannot set %s: %s:%d is not '<env file> <offset> <size>'", name,
                     config.c_str(), line);
        return -1;
    }

    uboot_ctx* ctx = nullptr;
    int status = libuboot_initialize(&ctx, nullptr);
    if (status < 0 || ctx == nullptr) {
        ZE_LOG_ERROR("cannot set %s: libubootenv did not start (%d)", name, status);
        return status < 0 ? status : -1;
    }
    // libubootenv checks the device files while it reads the configuration,
    // so a missing env file shows up here as well (-EINVAL).
    status = libuboot_read_config(ctx, config.c_str());
    if (status != 0) {
        ZE_LOG_ERROR(
            "cannot set %s: %s is missing, unreadable or names no usable env file (%d: %s)", name,
            config.c_str(), status, describe(status));
        libuboot_exit(ctx);
        return status;
    }
    // With no valid copy (a blank or damaged store) libubootenv would start an
    // empty environment and store it; on a board that would replace U-Boot's
    // whole default environment by this one variable. Refuse, as fw_setenv does.
    status = libuboot_open(ctx);
    if (status != 0) {
        if (status == -ENODATA) {
            ZE_LOG_ERROR("cannot set %s: the environment in %s has no valid copy", name,
                         config.c_str());
        } else {
            ZE_LOG_ERROR("cannot set %s: reading the environment of %s failed (%d: %s)", name,
                         config.c_str(), status, describe(status));
        }
        libuboot_close(ctx);
        libuboot_exit(ctx);
        return status;
    }
    status = libuboot_set_env(ctx, name, value);
    if (status != 0) {
        ZE_LOG_ERROR("cannot set %s=%s (%d: %s)", name, value != nullptr ? value : "(delete)",
                     status, describe(status));
    } else {
        status = libuboot_env_store(ctx);
        if (status != 0) {
            ZE_LOG_ERROR("cannot store %s to the environment of %s (%d: %s)", name, config.c_str(),
                         status, describe(status));
        }
    }
    libuboot_close(ctx);
    libuboot_exit(ctx);
    return status;
}
