#pragma once

#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace platform {

// $ZE_PLATFORM_ROOT, or "/" when unset or empty.
ZE_PLATFORM_EXPORT std::string platformRoot();
// A fixed platform path such as "/obdata/model/config/board.ini", resolved
// under platformRoot().
ZE_PLATFORM_EXPORT std::string resolvePath(const std::string& fixedPath);

}  // namespace platform
}  // namespace ze
