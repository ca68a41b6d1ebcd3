#include "console.h"

#include <chrono>
#include <cstdio>

namespace vcomctl {
namespace {

using Steady = std::chrono::steady_clock;
// Short operations finish before any progress appears.
constexpr auto kQuietPeriod = std::chrono::milliseconds(400);
constexpr auto kRefresh = std::chrono::milliseconds(100);

}  // namespace

Console::Console(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}

Console::~Console()
{
    endActivity();
}

void Console::line(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearProgressLocked();
    err_ << text << '\n';
    err_.flush();
}

void Console::beginActivity(const std::string& label)
{
    if (!showProgress_) return;
    endActivity();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        label_ = label;
        active_ = true;
    }
    ticker_ = std::thread([this] { tick(); });
}

void Console::endActivity()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        active_ = false;
        clearProgressLocked();
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

void Console::tick()
{
    const Steady::time_point start = Steady::now();
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, kQuietPeriod, [this] { return !active_; })) return;
    while (active_) {
        const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
        char text[32];
        std::snprintf(text, sizeof text, " ... %.1f s", seconds);
        err_ << '\r' << label_ << text << "\x1b[K";
        err_.flush();
        shown_ = true;
        wake_.wait_for(lock, kRefresh, [this] { return !active_; });
    }
}

void Console::clearProgressLocked()
{
    if (!shown_) return;
    err_ << "\r\x1b[K";
    err_.flush();
    shown_ = false;
}

}  // namespace vcomctl
