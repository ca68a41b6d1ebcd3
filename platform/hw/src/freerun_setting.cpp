#include "freerun_setting.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace ze {
namespace platform {
namespace hw {
namespace {

// Longer than any decimal int with sign and line end.
constexpr std::size_t kMaxText = 32;

bool parseSetting(const char* text, int* setting)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
    if (*end != '\0') return false;
    *setting = static_cast<int>(value);
    return true;
}

}  // namespace

FreerunSetting::FreerunSetting(std::string file) : file_(std::move(file)) {}

int FreerunSetting::get(int* setting)
{
    if (file_.empty()) {
        *setting = kept_;
        return 0;
    }
    std::FILE* in = std::fopen(file_.c_str(), "re");
    if (in == nullptr) {
        if (errno == ENOENT) {
            *setting = kept_;
            return 0;
        }
        return unreadable(-errno);
    }
    char text[kMaxText] = {};
    errno = 0;
    const std::size_t count = std::fread(text, 1, sizeof text - 1, in);
    const int readError = std::ferror(in) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(in);
    if (readError != 0) return unreadable(-readError);
    text[count] = '\0';
    int value = 0;
    if (!parseSetting(text, &value)) {
        ZE_LOG_ERROR("%s holds no display free-run setting (expected a decimal integer)",
                     file_.c_str());
        return -EINVAL;
    }
    kept_ = value;
    *setting = value;
    return 0;
}

int FreerunSetting::unreadable(int status) const
{
    ZE_LOG_ERROR(
        "cannot read the display free-run setting from %s: %s (is it a file readable "
        "by this process?)",
        file_.c_str(), std::strerror(-status));
    return status;
}

int FreerunSetting::set(int setting)
{
    if (!file_.empty()) {
        std::FILE* out = std::fopen(file_.c_str(), "we");
        if (out == nullptr) {
            const int status = -errno;
            ZE_LOG_ERROR(
                "cannot write the display free-run setting to %s: %s (does its "
                "directory exist and is it writable?)",
                file_.c_str(), std::strerror(-status));
            return status;
        }
        errno = 0;
        const bool written = std::fprintf(out, "%d\n", setting) > 0;
        const bool closed = std::fclose(out) == 0;
        if (!written || !closed) {
            const int status = errno != 0 ? -errno : -EIO;
            ZE_LOG_ERROR(
                "cannot write the display free-run setting to %s: %s (is the file "
                "system full?)",
                file_.c_str(), std::strerror(-status));
            return status;
        }
    }
    kept_ = setting;
    return 0;
}

}  // namespace hw
}  // namespace platform
}  // namespace ze
