#include "driver_log.h"

#include <cstdlib>

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

bool isError(const DriverMessage& message)
{
    return message.level != 0 && message.level <= QOR_DEBUG_LEVEL_ERROR;
}

bool isReadFailure(const DriverMessage& message)
{
    if (!isError(message)) return false;
    static const std::string head = "[DR_VCOM]VCOM ";
    static const std::string tail = " read fail .";
    const std::string body = messageBody(message.text);
    if (body.size() <= head.size() + tail.size()) return false;
    if (body.compare(0, head.size(), head) != 0) return false;
    if (body.compare(body.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::string chip = body.substr(head.size(), body.size() - head.size() - tail.size());
    return chip.find(' ') == std::string::npos;
}

std::optional<int> failedTransferStatus(const std::vector<DriverMessage>& messages)
{
    static const std::string marker = "ret = ";
    std::optional<int> status;
    for (const DriverMessage& message : messages) {
        if (!isError(message)) continue;
        const std::string::size_type at = message.text.rfind(marker);
        if (at == std::string::npos) continue;
        const char* start = message.text.c_str() + at + marker.size();
        char* end = nullptr;
        const long value = std::strtol(start, &end, 10);
        if (end != start) status = static_cast<int>(value);
    }
    return status;
}

DriverLog::DriverLog(bool verbose, Printer print) : shared_(std::make_shared<Shared>())
{
    shared_->print = std::move(print);
    // Errors stay enabled whatever -v says: the read's outcome depends on them.
    ze::platform::setDebugLevel(verbose ? QOR_DEBUG_LEVEL_INFO : QOR_DEBUG_LEVEL_ERROR);
    std::weak_ptr<Shared> weak = shared_;
    ze::platform::setDebugSink([weak](std::uint32_t level, const std::string& text) {
        const std::shared_ptr<Shared> shared = weak.lock();
        if (!shared) return;
        Printer printer;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->muted) return;
            shared->messages.push_back({level, text});
            printer = shared->print;
        }
        if (printer) {
            std::string line = text;
            while (!line.empty() && line.back() == '\n') line.pop_back();
            printer(line);
        }
    });
}

DriverLog::~DriverLog()
{
    ze::platform::setDebugSink(nullptr);
    ze::platform::resetDebugLevel();
}

void DriverLog::quietly(const std::function<void()>& body)
{
    struct Mute {
        Shared& shared;
        explicit Mute(Shared& s) : shared(s) { set(true); }
        ~Mute() { set(false); }
        void set(bool on)
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.muted = on;
        }
    } mute(*shared_);
    body();
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

}  // namespace vcomctl
