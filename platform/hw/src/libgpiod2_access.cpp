#include <ze/platform/linux_backend.h>

#include <gpiod.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

#include "gpiochip_lookup.h"

namespace ze {
namespace platform {
namespace {

constexpr const char* kDeviceDir = "/dev";

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using Chip = Owned<gpiod_chip, gpiod_chip_close>;
using ChipInfo = Owned<gpiod_chip_info, gpiod_chip_info_free>;
using LineSettings = Owned<gpiod_line_settings, gpiod_line_settings_free>;
using LineConfig = Owned<gpiod_line_config, gpiod_line_config_free>;
using RequestConfig = Owned<gpiod_request_config, gpiod_request_config_free>;
using LineRequest = Owned<gpiod_line_request, gpiod_line_request_release>;

int failure()
{
    return errno != 0 ? -errno : -EIO;
}

gpiod_line_value lineValue(int level)
{
    return level != 0 ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE;
}

// Every chip that can be opened, in the order of its device name.
hw::GpioChipLabels chipLabels()
{
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kDeviceDir, error)) {
        if (gpiod_is_gpiochip_device(entry.path().c_str())) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    hw::GpioChipLabels labels;
    for (const std::string& path : paths) {
        const Chip chip(gpiod_chip_open(path.c_str()));
        const ChipInfo info(chip ? gpiod_chip_get_info(chip.get()) : nullptr);
        if (info) labels.emplace_back(path, gpiod_chip_info_get_label(info.get()));
    }
    return labels;
}

// Lines stay requested until the end; chips are opened once per name.
class Libgpiod2Access final : public GpioChipAccess {
public:
    int requestOutput(const std::string& chipName, unsigned int offset, const char* consumer,
                      int level) override
    {
        gpiod_chip* chip = nullptr;
        if (const int status = openChip(chipName, &chip)) return status;
        errno = 0;
        const LineSettings settings(gpiod_line_settings_new());
        const LineConfig lines(gpiod_line_config_new());
        const RequestConfig request(gpiod_request_config_new());
        if (!settings || !lines || !request) return failure();
        if (gpiod_line_settings_set_direction(settings.get(), GPIOD_LINE_DIRECTION_OUTPUT) < 0 ||
            gpiod_line_settings_set_output_value(settings.get(), lineValue(level)) < 0 ||
            gpiod_line_config_add_line_settings(lines.get(), &offset, 1, settings.get()) < 0) {
            return failure();
        }
        gpiod_request_config_set_consumer(request.get(), consumer);
        LineRequest line(gpiod_chip_request_lines(chip, request.get(), lines.get()));
        if (!line) return failure();
        lines_.push_back({std::move(line), offset});
        return static_cast<int>(lines_.size() - 1);
    }

    int setValue(int handle, int level) override
    {
        if (handle < 0 || static_cast<std::size_t>(handle) >= lines_.size()) return -EBADF;
        const Line& line = lines_[static_cast<std::size_t>(handle)];
        errno = 0;
        return gpiod_line_request_set_value(line.request.get(), line.offset, lineValue(level)) < 0
                   ? failure()
                   : 0;
    }

private:
    struct Line {
        LineRequest request;
        unsigned int offset;
    };

    int openChip(const std::string& name, gpiod_chip** chip)
    {
        const auto known = chips_.find(name);
        if (known != chips_.end()) {
            *chip = known->second.get();
            return 0;
        }
        errno = 0;
        Chip opened(gpiod_chip_open(hw::gpioChipPath(name, chipLabels).c_str()));
        if (!opened) return errno != 0 ? -errno : -ENOENT;
        *chip = opened.get();
        chips_.emplace(name, std::move(opened));
        return 0;
    }

    // Declared first: the requests go before their chips.
    std::map<std::string, Chip> chips_;
    std::vector<Line> lines_;
};

}  // namespace

GpioChipAccess::~GpioChipAccess() = default;

std::shared_ptr<GpioChipAccess> makeLibgpiodAccess()
{
    return std::make_shared<Libgpiod2Access>();
}

}  // namespace platform
}  // namespace ze
