#pragma once

#include <cstddef>
#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace platform {

// $ZE_PLATFORM_ROOT, or "/" when unset or empty.
ZE_PLATFORM_EXPORT std::string platformRoot();
// A fixed platform path such as "/obdata/model/config/board.ini", resolved
// under platformRoot().
ZE_PLATFORM_EXPORT std::string resolvePath(const std::string& fixedPath);
// The same into `out` (`size` bytes), for callers that must not allocate.
// Returns false, with `out` untouched, when the result does not fit.
ZE_PLATFORM_EXPORT bool resolvePath(const char* fixedPath, char* out, std::size_t size);

}  // namespace platform
}  // namespace ze
