#include <tvconfig/configutil.h>

#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <ze/platform/paths.h>

#include "ini_text.h"
#include "log.h"

namespace tvConfig {
namespace {

// The driver reads one board file; a few more cover other callers.
constexpr std::size_t kCachedFiles = 4;
constexpr std::size_t kReadChunk = 4096;

long long nanoseconds(const timespec& t)
{
    constexpr long long kPerSecond = 1000000000;
    return t.tv_sec * kPerSecond + t.tv_nsec;
}

const timespec& later(const timespec& a, const timespec& b)
{
    return nanoseconds(a) >= nanoseconds(b) ? a : b;
}

// What tells a file's versions apart without reading it. The change time
// covers a chmod, which can make the same content unreadable.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {};
    timespec changed = {};

    explicit Identity(const struct stat& info = {})
        : device(info.st_dev),
          inode(info.st_ino),
          size(info.st_size),
          modified(info.st_mtim),
          changed(info.st_ctim)
    {
    }

    // Written so recently that a second write could still leave the same
    // times: file systems stamp files with the kernel's coarse clock, one tick
    // at a time. Such a version is read again at the next lookup.
    bool recent() const
    {
        static const timespec tick = [] {
            timespec t = {};
            clock_getres(CLOCK_REALTIME_COARSE, &t);
            return t;
        }();
        timespec now = {};
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        const timespec& last = later(modified, changed);
        return nanoseconds(now) - nanoseconds(last) <= nanoseconds(tick);
    }

    bool operator==(const Identity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

// The directory of a file, watched for anything that could change what the
// file holds: one read of a quiet inotify descriptor per lookup costs a third
// of a stat of the whole path.
class DirectoryWatch {
public:
    DirectoryWatch() = default;
    DirectoryWatch(DirectoryWatch&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    DirectoryWatch& operator=(DirectoryWatch&& other) noexcept
    {
        if (this != &other) {
            stop();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~DirectoryWatch() { stop(); }

    bool active() const { return fd_ >= 0; }

    // Leaves the watch inactive where inotify is not to be had.
    void start(const std::string& file)
    {
        stop();
        const std::size_t slash = file.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : file.substr(0, slash + 1);
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && inotify_add_watch(fd_, directory.c_str(), kEvents) < 0) stop();
    }

    // True when something happened since the last call. A watch whose
    // directory went away stops, so that the next lookup starts a new one.
    bool changed()
    {
        alignas(inotify_event) char events[kEventBuffer];
        bool any = false;
        for (;;) {
            const ssize_t count = ::read(fd_, events, sizeof events);
            if (count < 0 && errno == EAGAIN) return any;
            if (count <= 0) {
                stop();
                return true;
            }
            any = true;
            for (ssize_t at = 0; at < count;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if ((event->mask & kGone) != 0) {
                    stop();
                    return true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    static constexpr std::uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                             IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                             IN_DELETE_SELF | IN_MOVE_SELF;
    static constexpr std::uint32_t kGone =
        IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW;
    static constexpr std::size_t kEventBuffer = 4096;

    void stop()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
};

// One file as last parsed: its entries as "section\0key\0value\0" runs in
// one buffer, so that a lookup compares in place and a reparse reuses the
// memory of the last one.
struct ParsedFile {
    struct Entry {
        std::size_t section;
        std::size_t key;
        std::size_t value;
    };

    std::string path;
    Identity identity;
    bool current = false;  // identity describes what entries hold
    bool usable = false;   // parsed without a line too long to trust the rest
    int reported = 0;      // the errno last reported for this path
    std::string text;
    std::string scratch;  // the next version, compared with `text` before parsing it
    std::string strings;
    std::vector<Entry> entries;
    bool recent = false;  // read again at the next lookup; see Identity::recent()
    DirectoryWatch watch;

    static int add(void* user, unsigned int, const char* section, const char* key,
                   const char* value)
    {
        ParsedFile& file = *static_cast<ParsedFile*>(user);
        Entry entry;
        entry.section = file.append(section);
        entry.key = file.append(key);
        entry.value = file.append(value);
        file.entries.push_back(entry);
        return 1;
    }

    std::size_t append(const char* s)
    {
        const std::size_t at = strings.size();
        strings.append(s, std::strlen(s) + 1);
        return at;
    }

    // The first value of `key` in the section named by `section[0..length)`.
    const char* find(const char* section, std::size_t length, const char* key) const
    {
        for (const Entry& e : entries) {
            const char* s = &strings[e.section];
            if (std::strncmp(s, section, length) == 0 && s[length] == '\0' &&
                std::strcmp(&strings[e.key], key) == 0) {
                return &strings[e.value];
            }
        }
        return nullptr;
    }

    // Reports a failure once, not at every lookup while it lasts.
    void fail(int error)
    {
        current = false;
        if (error != reported && error != ENOENT) {
            ZE_LOG_ERROR("%s: cannot read: %s (errno %d)", path.c_str(), std::strerror(error),
                         error);
        }
        reported = error;
    }

    int read(int fd, Identity* version, std::string* into)
    {
        struct stat info;
        if (fstat(fd, &info) != 0) return errno;
        if (S_ISDIR(info.st_mode)) return EISDIR;
        *version = Identity(info);
        into->clear();
        char chunk[kReadChunk];
        for (;;) {
            const ssize_t count = ::read(fd, chunk, sizeof chunk);
            if (count == 0) return 0;
            if (count < 0 && errno != EINTR) return errno;
            if (count > 0) into->append(chunk, static_cast<std::size_t>(count));
        }
    }

    void load()
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return fail(errno);
        Identity loaded;
        const int error = read(fd, &loaded, &scratch);
        ::close(fd);
        if (error != 0) return fail(error);
        recent = loaded.recent();
        const bool unchanged = current && loaded == identity && scratch == text;
        identity = loaded;
        current = true;
        reported = 0;
        if (!unchanged) parse();
    }

    void parse()
    {
        text.swap(scratch);
        strings.clear();
        entries.clear();
        const ze::platform::IniOutcome outcome =
            ze::platform::parseIniText(text.data(), text.size(), add, this);
        // inih skips a malformed line and goes on, and so do we: one bad line
        // does not hide the rest of the board's settings. A line too long for
        // inih is another matter: its tail would read as a line of its own.
        usable = outcome.overlongLine == 0 && !outcome.outOfMemory;
        if (outcome.outOfMemory) {
            ZE_LOG_ERROR("%s: out of memory while parsing", path.c_str());
        } else if (!usable) {
            ZE_LOG_ERROR("%s: line %u is longer than %zu bytes; no value is read from this file",
                         path.c_str(), outcome.overlongLine, outcome.lineLimit);
        } else if (outcome.firstErrorLine != 0) {
            ZE_LOG_INFO("%s: line %u is malformed and was skipped", path.c_str(),
                        outcome.firstErrorLine);
        }
        if (!usable) entries.clear();
    }

    // Brought up to date with one stat when nothing changed.
    bool refresh()
    {
        const bool watched = current && watch.active();
        if (watched && !watch.changed()) return usable;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            fail(errno);
            return false;
        }
        // Started before the file is read, so that no change goes unseen.
        if (!watch.active()) watch.start(path);
        if (watched || !current || recent || !(Identity(info) == identity)) load();
        return current && usable;
    }
};

class Cache {
public:
    // The parsed file at `path`, up to date, or nullptr when it cannot be used.
    const ParsedFile* get(const char* path)
    {
        ParsedFile* file = nullptr;
        for (ParsedFile& f : files_) {
            if (f.path == path) file = &f;
        }
        if (file == nullptr) {
            if (files_.size() < kCachedFiles) files_.emplace_back();
            file = &files_[next_++ % files_.size()];
            *file = ParsedFile();
            file->path = path;
        }
        return file->refresh() ? file : nullptr;
    }

    std::mutex mutex;

private:
    std::vector<ParsedFile> files_;
    std::size_t next_ = 0;
};

Cache& cache()
{
    static Cache* const c = new Cache;
    return *c;
}

}  // namespace

ConfigUtil* ConfigUtil::instance()
{
    static ConfigUtil* const util = new ConfigUtil;
    return util;
}

ConfigUtil::~ConfigUtil() = default;

int ConfigUtil::getIniValue(const char* path, const char* section, const char* key, char* value,
                            int size)
{
    if (path == nullptr || section == nullptr || key == nullptr || value == nullptr || size <= 0) {
        return 0;
    }
    char file[PATH_MAX];
    if (!ze::platform::resolvePath(path, file, sizeof file)) {
        ZE_LOG_ERROR("%s: the path is too long under the platform root", path);
        return 0;
    }
    std::size_t length = std::strlen(section);
    if (length >= 2 && section[0] == '[' && section[length - 1] == ']') {
        ++section;
        length -= 2;
    }

    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    const ParsedFile* parsed = c.get(file);
    const char* found = parsed != nullptr ? parsed->find(section, length, key) : nullptr;
    if (found == nullptr) return 0;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    const std::size_t count = std::min(std::strlen(found), room);
    std::memcpy(value, found, count);
    value[count] = '\0';
    return 1;
}

}  // namespace tvConfig
