#pragma once
// Where the debug output goes and which levels are enabled.
//
// By default enabled messages are written to stderr, one per line as
// formatted. $ZE_DEBUG_LEVEL picks the enabled levels: "none", "error"
// (the default), "info", "all", or a number: every level up to it is enabled.
// It is read at the first check; unknown text leaves errors enabled and is
// reported once on stderr.

#include <cstdint>
#include <functional>
#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace platform {

// Receives each output message with the level that was checked for it: the
// level of the calling thread's most recent enabled check (0 if none).
using DebugSink = std::function<void(std::uint32_t level, const std::string& text)>;

// Replaces the stderr output; an empty sink restores it. The sink is called
// from the printing thread, unlocked; a message printed while the sink is
// being replaced may still reach the previous one.
ZE_PLATFORM_EXPORT void setDebugSink(DebugSink sink);
// Enables every level up to `maxLevel` (0 disables all), overriding $ZE_DEBUG_LEVEL.
ZE_PLATFORM_EXPORT void setDebugLevel(std::uint32_t maxLevel);
// Drops the setDebugLevel override: the next check reads $ZE_DEBUG_LEVEL again.
ZE_PLATFORM_EXPORT void resetDebugLevel();
// Parses a $ZE_DEBUG_LEVEL text; returns false for text it does not know.
ZE_PLATFORM_EXPORT bool parseDebugLevel(const char* text, std::uint32_t* maxLevel);

}  // namespace platform
}  // namespace ze
