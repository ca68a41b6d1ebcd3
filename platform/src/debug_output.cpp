#include <qor/debug.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <ze/platform/debug_sink.h>

namespace ze {
namespace platform {
namespace {

constexpr std::uint32_t kLevelMask = 0xFFFFu;

// Everything here outlives any static object of another module that might
// still print from its destructor, hence heap-allocated and never freed.
struct DebugState {
    std::mutex levelMutex;
    std::atomic<bool> levelDecided{false};
    std::atomic<std::uint32_t> maxLevel{QOR_DEBUG_LEVEL_ERROR};

    std::mutex sinkMutex;
    std::shared_ptr<const DebugSink> sink;
};

DebugState& state()
{
    static DebugState* const s = new DebugState;
    return *s;
}

// Level of the last enabled check on this thread: the level its next message
// is attributed to. A message printed without any check counts as level 0.
thread_local std::uint32_t tCheckedLevel = 0;

std::uint32_t levelFromEnvironment()
{
    const char* text = std::getenv("ZE_DEBUG_LEVEL");
    if (text == nullptr || *text == '\0') return QOR_DEBUG_LEVEL_ERROR;
    std::uint32_t level = QOR_DEBUG_LEVEL_ERROR;
    if (!parseDebugLevel(text, &level)) {
        std::fprintf(stderr,
                     "zeplatform: unknown ZE_DEBUG_LEVEL '%s' (use none, error, info, all or a "
                     "number); showing errors only\n",
                     text);
        return QOR_DEBUG_LEVEL_ERROR;
    }
    return level;
}

std::uint32_t enabledMaxLevel()
{
    DebugState& s = state();
    if (s.levelDecided.load(std::memory_order_acquire)) {
        return s.maxLevel.load(std::memory_order_relaxed);
    }
    std::lock_guard<std::mutex> lock(s.levelMutex);
    if (!s.levelDecided.load(std::memory_order_relaxed)) {
        s.maxLevel.store(levelFromEnvironment(), std::memory_order_relaxed);
        s.levelDecided.store(true, std::memory_order_release);
    }
    return s.maxLevel.load(std::memory_order_relaxed);
}

bool equalsIgnoringCase(const char* text, const char* word)
{
    for (; *text != '\0' && *word != '\0'; ++text, ++word) {
        if (std::tolower(static_cast<unsigned char>(*text)) != *word) return false;
    }
    return *text == '\0' && *word == '\0';
}

void emit(const char* text, std::size_t length)
{
    std::shared_ptr<const DebugSink> sink;
    {
        DebugState& s = state();
        std::lock_guard<std::mutex> lock(s.sinkMutex);
        sink = s.sink;
    }
    // The sink runs unlocked so that it may itself print or swap the sink.
    if (sink) {
        (*sink)(tCheckedLevel, std::string(text, length));
    } else {
        std::fwrite(text, 1, length, stderr);
    }
}

}  // namespace

void setDebugSink(DebugSink sink)
{
    std::shared_ptr<const DebugSink> next;
    if (sink) next = std::make_shared<const DebugSink>(std::move(sink));
    DebugState& s = state();
    std::lock_guard<std::mutex> lock(s.sinkMutex);
    s.sink.swap(next);
}

void setDebugLevel(std::uint32_t maxLevel)
{
    DebugState& s = state();
    std::lock_guard<std::mutex> lock(s.levelMutex);
    s.maxLevel.store(maxLevel, std::memory_order_relaxed);
    s.levelDecided.store(true, std::memory_order_release);
}

void resetDebugLevel()
{
    DebugState& s = state();
    std::lock_guard<std::mutex> lock(s.levelMutex);
    s.levelDecided.store(false, std::memory_order_release);
}

bool parseDebugLevel(const char* text, std::uint32_t* maxLevel)
{
    if (text == nullptr || maxLevel == nullptr) return false;
    std::uint32_t level = 0;
    if (equalsIgnoringCase(text, "none")) {
        level = 0;
    } else if (equalsIgnoringCase(text, "error")) {
        level = QOR_DEBUG_LEVEL_ERROR;
    } else if (equalsIgnoringCase(text, "info")) {
        level = QOR_DEBUG_LEVEL_INFO;
    } else if (equalsIgnoringCase(text, "all")) {
        level = UINT32_MAX;
    } else {
        if (*text == '\0') return false;
        unsigned long long value = 0;
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p < '0' || *p > '9') return false;
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (value > UINT32_MAX) return false;
        }
        level = static_cast<std::uint32_t>(value);
    }
    *maxLevel = level;
    return true;
}

}  // namespace platform
}  // namespace ze

extern "C" int qorDebugCheckLevelGetFrameAndChunk(const DebugLevelDescriptor* descriptor)
{
    if (descriptor == nullptr) return 0;
    const std::uint32_t level = descriptor->categoryLevel & ze::platform::kLevelMask;
    const std::uint32_t maxLevel = ze::platform::enabledMaxLevel();
    if (maxLevel == 0 || level > maxLevel) return 0;
    ze::platform::tCheckedLevel = level;
    return 1;
}

extern "C" void qorDebugOutput0(const char* format, ...)
{
    if (format == nullptr) return;
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        ze::platform::emit(small, static_cast<std::size_t>(length));
        return;
    }
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&large[0], large.size(), format, again);
    va_end(again);
    ze::platform::emit(large.data(), static_cast<std::size_t>(length));
}
