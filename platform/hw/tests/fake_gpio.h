#pragma once
// GPIO chips that record what is requested and driven.

#include <map>
#include <string>
#include <vector>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace test {

class FakeGpio : public ze::platform::GpioChipAccess {
public:
    struct Request {
        std::string chip;
        unsigned int offset;
        std::string consumer;
        int level;
        bool operator==(const Request& o) const
        {
            return chip == o.chip && offset == o.offset && consumer == o.consumer &&
                   level == o.level;
        }
    };

    int requestStatus = 0;  // negative: requests fail with it
    std::vector<Request> requests;
    std::vector<std::pair<int, int>> sets;  // handle, level

    int requestOutput(const std::string& chip, unsigned int offset, const char* consumer,
                      int level) override
    {
        requests.push_back({chip, offset, consumer, level});
        return requestStatus < 0 ? requestStatus : static_cast<int>(requests.size()) + 40;
    }
    int setValue(int handle, int level) override
    {
        sets.emplace_back(handle, level);
        return 0;
    }
};

}  // namespace test
}  // namespace ze
