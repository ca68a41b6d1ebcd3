#pragma once
// The bus traffic of each operation, taken from the SoC backend's own record
// of its calls, as a readable timeline.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <ze/platform/soc_backend.h>
#include <ze/platform/trace.h>

#include <nlohmann/json.hpp>

namespace vcomctl {

using TraceEntry = ze::platform::TraceEntry;
using Clock = std::function<std::uint64_t()>;  // microseconds

// A window onto a backend's trace, timed by the tool's clock.
class TraceTap {
public:
    struct Mark {
        std::size_t index = 0;
        std::uint64_t startUs = 0;
    };

    TraceTap(std::function<std::vector<TraceEntry>()> entries, Clock clock);
    // The tap of a backend, its trace switched on and timed by `clock`.
    static TraceTap forBackend(ze::platform::SocBackend& backend, Clock clock);

    Mark mark() const;
    std::vector<TraceEntry> since(const Mark& mark) const;

private:
    std::function<std::vector<TraceEntry>()> entries_;
    Clock clock_;
};

// One timeline line, its time counted from `originUs`:
// "    81.102 ms  R  bus 1  dev 0xE8  reg 0x01  data 80          ok"
std::string formatTraceLine(const TraceEntry& entry, std::uint64_t originUs);
// "ok", or "status -6 (No such device or address)"
std::string describeStatus(int status);
// The entries as a JSON array of objects, keys in the order written.
nlohmann::ordered_json traceJson(const std::vector<TraceEntry>& entries, std::uint64_t originUs);

}  // namespace vcomctl
