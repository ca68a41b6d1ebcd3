#pragma once

// Symbols of libzeplatform.so that other modules may link against.
#if defined(ZE_PLATFORM_BUILD)
#define ZE_PLATFORM_EXPORT __attribute__((visibility("default")))
#else
#define ZE_PLATFORM_EXPORT __attribute__((visibility("default")))
#endif
