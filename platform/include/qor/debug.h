#pragma once
// Debug output. A caller asks whether a category and level is enabled, and
// formats and outputs its message only when it is.

#include <stdint.h>

#include <ze/platform/export.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DebugLevelDescriptor {
    uint32_t categoryLevel;  // category in the upper 16 bits, level in the lower 16
    uint32_t frame;          // 0
    uint32_t chunk;          // 0
} DebugLevelDescriptor;

#define QOR_DEBUG_LEVEL_ERROR 1000u
#define QOR_DEBUG_LEVEL_INFO 4000u

// Non-zero when messages of the descriptor's category and level are output.
ZE_PLATFORM_EXPORT int qorDebugCheckLevelGetFrameAndChunk(const DebugLevelDescriptor* descriptor);
ZE_PLATFORM_EXPORT void qorDebugOutput0(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif
