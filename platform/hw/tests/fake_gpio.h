#pragma once
// GPIO chips that record what is requested and driven.

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace test {

class FakeGpio : public ze::platform::GpioChipAccess {
public:
    // chip, offset, consumer, level
    using Request = std::tuple<std::string, unsigned int, std::string, int>;
    static constexpr int kFirstHandle = 40;

    int requestStatus = 0;  // negative: requests fail with it
    std::vector<Request> requests;
    std::vector<std::pair<int, int>> sets;  // handle, level

    int requestOutput(const std::string& chip, unsigned int offset, const char* consumer,
                      int level) override
    {
        requests.emplace_back(chip, offset, consumer, level);
        return requestStatus < 0 ? requestStatus
                                 : kFirstHandle + static_cast<int>(requests.size());
    }
    int setValue(int handle, int level) override
    {
        sets.emplace_back(handle, level);
        return 0;
    }
};

}  // namespace test
}  // namespace ze
