#include "driver_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <qor/debug.h>
#include <ze/platform/debug_sink.h>

namespace vcomctl {

std::string messageBody(const std::string& text)
{
    std::string body = text;
    const std::string::size_type prefixEnd = body.find("(): ");
    if (prefixEnd != std::string::npos) body.erase(0, prefixEnd + 4);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    return body;
}

namespace {

// What -v shows: the levels $ZE_DEBUG_LEVEL names, or info and above.
std::uint32_t shownLevel(bool verbose)
{
    if (!verbose) return 0;
    std::uint32_t level = QOR_DEBUG_LEVEL_INFO;
    const char* text = std::getenv("ZE_DEBUG_LEVEL");
    if (text != nullptr && !ze::platform::parseDebugLevel(text, &level)) {
        level = QOR_DEBUG_LEVEL_INFO;
    }
    return level;
}

// The driver reports the seven board keys at init and again at every read;
// a key is shown again only when its value changed.
bool repeatsBoardKey(std::map<std::string, std::string>& shown, const std::string& body)
{
    static const std::string head = "[vcom][";
    if (body.compare(0, head.size(), head) != 0) return false;
    const std::string key = body.substr(0, body.find(']', head.size()) + 1);
    std::string& last = shown[key];
    if (last == body) return true;
    last = body;
    return false;
}

using Steady = std::chrono::steady_clock;
// Short operations finish before any progress appears.
constexpr auto kQuietPeriod = std::chrono::milliseconds(400);
constexpr auto kRefresh = std::chrono::milliseconds(100);

}  // namespace

DriverLog::DriverLog(bool verbose, Printer print) : shared_(std::make_shared<Shared>())
{
    shared_->print = std::move(print);
    shared_->shown = shownLevel(verbose);
    // Errors stay enabled whatever is shown: a failure's reason may be told only there.
    ze::platform::setDebugLevel(std::max<std::uint32_t>(shared_->shown, QOR_DEBUG_LEVEL_ERROR));
    std::weak_ptr<Shared> weak = shared_;
    ze::platform::setDebugSink([weak](std::uint32_t level, const std::string& text) {
        const std::shared_ptr<Shared> shared = weak.lock();
        if (!shared) return;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (level != 0 && level <= QOR_DEBUG_LEVEL_ERROR)
                shared->messages.push_back({level, text});
            if (level > shared->shown || repeatsBoardKey(shared->boardKeys, messageBody(text)))
                return;
        }
        // Set once, before the sink: read without the lock.
        std::string line = text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        if (shared->print) shared->print(line);
    });
}

DriverLog::~DriverLog()
{
    ze::platform::setDebugSink(nullptr);
    ze::platform::resetDebugLevel();
}

void DriverLog::startCall()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->messages.clear();
}

std::vector<DriverMessage> DriverLog::callMessages() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->messages;
}

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
