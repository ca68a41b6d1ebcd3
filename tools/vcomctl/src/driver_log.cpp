#include "driver_log.h"

#include <algorithm>
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

bool isError(const DriverMessage& message)
{
    return message.level != 0 && message.level <= QOR_DEBUG_LEVEL_ERROR;
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
        Printer printer;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (isError(DriverMessage{level, ""})) shared->messages.push_back({level, text});
            if (level > shared->shown || repeatsBoardKey(shared->boardKeys, messageBody(text))) {
                return;
            }
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
