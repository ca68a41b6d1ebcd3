#pragma once
// Messages of the platform library itself, in the house form
// "file:line:function(): text", through the qorDebug interface.

#include <qor/debug.h>

namespace ze {
namespace platform {
namespace detail {

// Category of the platform library's own messages.
constexpr uint32_t kLogCategory = 0x019Au << 16;

constexpr const char* baseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') base = p + 1;
    }
    return base;
}

}  // namespace detail
}  // namespace platform
}  // namespace ze

#define ZE_LOG_AT(level, fmt, ...)                                                             \
    do {                                                                                       \
        const DebugLevelDescriptor zeLogDescriptor_ = {                                        \
            ze::platform::detail::kLogCategory | (level), 0, 0};                               \
        if (qorDebugCheckLevelGetFrameAndChunk(&zeLogDescriptor_)) {                           \
            qorDebugOutput0("%s:%d:%s(): " fmt "\n", ze::platform::detail::baseName(__FILE__), \
                            __LINE__, __func__, ##__VA_ARGS__);                                \
        }                                                                                      \
    } while (0)

#define ZE_LOG_ERROR(fmt, ...) ZE_LOG_AT(QOR_DEBUG_LEVEL_ERROR, fmt, ##__VA_ARGS__)
#define ZE_LOG_INFO(fmt, ...) ZE_LOG_AT(QOR_DEBUG_LEVEL_INFO, fmt, ##__VA_ARGS__)
