#include <ze/platform/paths.h>

#include <cstdlib>
#include <cstring>

namespace ze {
namespace platform {
namespace {

const char* rootVariable()
{
    const char* root = std::getenv("ZE_PLATFORM_ROOT");
    return root != nullptr && *root != '\0' ? root : nullptr;
}

}  // namespace

std::string platformRoot()
{
    const char* root = rootVariable();
    return root != nullptr ? root : "/";
}

bool resolvePath(const char* fixedPath, char* out, std::size_t size)
{
    // Relative paths name files of the caller's own (e.g. a tool's argument),
    // not platform locations: they stay relative to the working directory.
    const char* root = fixedPath[0] == '/' ? rootVariable() : nullptr;
    std::size_t rootLength = root != nullptr ? std::strlen(root) : 0;
    while (rootLength > 0 && root[rootLength - 1] == '/') --rootLength;
    const char* rest = fixedPath;
    if (root != nullptr) {
        while (*rest == '/') ++rest;
    }
    const bool separator = root != nullptr && (*rest != '\0' || rootLength == 0);
    const std::size_t restLength = std::strlen(rest);
    if (rootLength + (separator ? 1 : 0) + restLength >= size) return false;
    if (rootLength > 0) std::memcpy(out, root, rootLength);
    char* tail = out + rootLength;
    if (separator) *tail++ = '/';
    std::memcpy(tail, rest, restLength + 1);
    return true;
}

std::string resolvePath(const std::string& fixedPath)
{
    const std::size_t room = fixedPath.size() + std::strlen(platformRoot().c_str()) + 2;
    std::string out(room, '\0');
    resolvePath(fixedPath.c_str(), &out[0], room);
    out.resize(std::strlen(out.c_str()));
    return out;
}

}  // namespace platform
}  // namespace ze
