#include "trace.h"

namespace vcomctl {

TraceTap::TraceTap(ze::platform::SocBackend& backend) : backend_(backend)
{
    backend_.clearTrace();
    backend_.setTraceEnabled(true);
}

TraceTap::~TraceTap()
{
    backend_.setTraceEnabled(false);
    backend_.clearTrace();
}

std::vector<TraceEntry> TraceTap::peek() const
{
    return backend_.traceSince(next_);
}

std::vector<TraceEntry> TraceTap::take()
{
    std::vector<TraceEntry> entries = peek();
    if (!entries.empty()) next_ = entries.back().sequence + 1;
    return entries;
}

}  // namespace vcomctl
