#include <ze/platform/paths.h>

#include <cstdlib>

namespace ze {
namespace platform {

std::string platformRoot()
{
    const char* root = std::getenv("ZE_PLATFORM_ROOT");
    if (root == nullptr || *root == '\0') return "/";
    return root;
}

std::string resolvePath(const std::string& fixedPath)
{
    // Relative paths name files of the caller's own (e.g. a tool's argument),
    // not platform locations: they stay relative to the working directory.
    if (fixedPath.empty() || fixedPath.front() != '/') return fixedPath;

    std::string root = platformRoot();
    while (!root.empty() && root.back() == '/') root.pop_back();
    const std::string::size_type start = fixedPath.find_first_not_of('/');
    if (start == std::string::npos) return root.empty() ? "/" : root;
    return root + "/" + fixedPath.substr(start);
}

}  // namespace platform
}  // namespace ze
