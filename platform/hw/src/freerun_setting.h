#pragma once
// The display's free-run setting: kept in memory, or served through a file.

#include <string>

namespace ze {
namespace platform {
namespace hw {

// Not thread-safe.
class FreerunSetting {
public:
    // An empty `file` keeps the setting in memory only.
    explicit FreerunSetting(std::string file);

    // From the file when it exists, otherwise the setting kept.
    int get(int* setting);
    // Into the file when one is configured; kept only once it is there.
    int set(int setting);

private:
    int unreadable(int status) const;

    const std::string file_;
    int kept_ = 0;
};

}  // namespace hw
}  // namespace platform
}  // namespace ze
