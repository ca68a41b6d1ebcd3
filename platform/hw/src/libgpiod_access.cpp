#include <ze/platform/linux_backend.h>

#include <gpiod.h>

#include <cerrno>
#include <map>
#include <vector>

namespace ze {
namespace platform {
namespace {

// Chips stay open while any of their lines is requested, that is, until the end.
class LibgpiodAccess final : public GpioChipAccess {
public:
    ~LibgpiodAccess() override
    {
        for (gpiod_line* line : lines_) gpiod_line_release(line);
        for (auto& chip : chips_) gpiod_chip_close(chip.second);
    }

    int requestOutput(const std::string& chipName, unsigned int offset, const char* consumer,
                      int level) override
    {
        gpiod_chip* chip = nullptr;
        if (const int status = openChip(chipName, &chip)) return status;
        gpiod_line* line = gpiod_chip_get_line(chip, offset);
        if (line == nullptr) return failure();
        if (gpiod_line_request_output(line, consumer, level) < 0) return failure();
        lines_.push_back(line);
        return static_cast<int>(lines_.size() - 1);
    }

    int setValue(int handle, int level) override
    {
        if (handle < 0 || static_cast<std::size_t>(handle) >= lines_.size()) return -EBADF;
        return gpiod_line_set_value(lines_[static_cast<std::size_t>(handle)], level) < 0 ? failure()
                                                                                         : 0;
    }

private:
    static int failure() { return errno != 0 ? -errno : -EIO; }

    int openChip(const std::string& name, gpiod_chip** chip)
    {
        const auto known = chips_.find(name);
        if (known != chips_.end()) {
            *chip = known->second;
            return 0;
        }
        errno = 0;
        gpiod_chip* opened = gpiod_chip_open_lookup(name.c_str());
        if (opened == nullptr) return errno != 0 ? -errno : -ENOENT;
        chips_.emplace(name, opened);
        *chip = opened;
        return 0;
    }

    std::map<std::string, gpiod_chip*> chips_;
    std::vector<gpiod_line*> lines_;
};

}  // namespace

GpioChipAccess::~GpioChipAccess() = default;

std::shared_ptr<GpioChipAccess> makeLibgpiodAccess()
{
    return std::make_shared<LibgpiodAccess>();
}

}  // namespace platform
}  // namespace ze
