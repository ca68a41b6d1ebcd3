#pragma once
// The one way this library writes a message: ask the platform whether the
// level is enabled, and only then format "file:line:function(): " and the text.

#include <cstdint>

#include <qor/debug.h>

namespace ze {
namespace ic {
namespace log {

constexpr std::uint32_t kCategory = 0x019A;
constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;
constexpr std::uint32_t kInfo = QOR_DEBUG_LEVEL_INFO;

// Tag that fills the "[%s]" field of driver messages.
constexpr const char* kTag = "VCOMIC";

bool enabled(std::uint32_t level);

// The file, line and function a message is attributed to: the chip routine
// that runs a step, also when a helper shared by several routines emits it.
struct Site {
    const char* file;
    int line;
    const char* func;
};

constexpr const char* baseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') base = p + 1;
    }
    return base;
}

}  // namespace log
}  // namespace ic
}  // namespace ze

#define VCOM_SITE (::ze::ic::log::Site{::ze::ic::log::baseName(__FILE__), __LINE__, __func__})

#define VCOM_LOG_AT(site, level, fmt, ...)                                          \
    do {                                                                            \
        if (::ze::ic::log::enabled(level)) {                                        \
            const ::ze::ic::log::Site& site_ = (site);                              \
            qorDebugOutput0("%s:%d:%s(): " fmt, site_.file, site_.line, site_.func, \
                            ##__VA_ARGS__);                                         \
        }                                                                           \
    } while (0)

#define VCOM_LOG(level, fmt, ...) VCOM_LOG_AT(VCOM_SITE, level, fmt, ##__VA_ARGS__)
#define VCOM_ERR(fmt, ...) VCOM_LOG(::ze::ic::log::kError, fmt, ##__VA_ARGS__)
#define VCOM_INFO(fmt, ...) VCOM_LOG(::ze::ic::log::kInfo, fmt, ##__VA_ARGS__)
#define VCOM_ERR_AT(site, fmt, ...) VCOM_LOG_AT(site, ::ze::ic::log::kError, fmt, ##__VA_ARGS__)
#define VCOM_INFO_AT(site, fmt, ...) VCOM_LOG_AT(site, ::ze::ic::log::kInfo, fmt, ##__VA_ARGS__)
