#pragma once
// The bus traffic of each operation, taken from the SoC backend's own record
// of its calls; trace_text.h shows it.

#include <cstdint>
#include <string>
#include <vector>

#include <ze/platform/soc_backend.h>
#include <ze/platform/trace.h>

#include "trace_text.h"

namespace vcomctl {

// The backend's record of the calls since the last take(). The record is
// bounded and drops its oldest entries, so new ones are told by their
// sequence number, not by their place in it.
class TraceTap {
public:
    explicit TraceTap(ze::platform::SocBackend& backend);
    ~TraceTap();
    TraceTap(const TraceTap&) = delete;
    TraceTap& operator=(const TraceTap&) = delete;

    std::vector<TraceEntry> peek() const;
    std::vector<TraceEntry> take();

private:
    ze::platform::SocBackend& backend_;
    std::uint64_t next_ = 0;  // sequence number of the first entry not taken
};

}  // namespace vcomctl
