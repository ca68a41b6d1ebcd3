#include <ze/vcomcal/line_stats.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

namespace ze {
namespace vcomcal {
namespace {

constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTemporarySuffix = ".XXXXXX";
constexpr mode_t kNewFileMode = 0666;  // less the umask
constexpr std::size_t kShownValueBytes = 40;
// Beyond any chip's VCOM codes: a mean or spread this large is no line's.
constexpr double kLargestCode = 1e6;
constexpr const char* kExpected = R"( (expected {"count": N, "mean": X, "variance": Y}))";

// Shorter than "/" with nothing after: the file's directory and its name.
std::pair<std::string, std::string> splitPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string systemError(const std::string& what, const std::string& path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// A unique new file in `path`'s directory, named after it (O_EXCL: a name
// that someone else prepared, as a link, is never used).
int createSibling(const std::string& path, std::string* name)
{
    const auto [directory, base] = splitPath(path);
    *name = directory + "/." + base + kTemporarySuffix;
    return mkostemp(name->data(), O_CLOEXEC);
}

mode_t newFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return kNewFileMode & ~mask;
}

bool writeAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The value of a field for an error message, short and printable.
std::string shown(const nlohmann::json& value)
{
    std::string text = value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    if (text.size() > kShownValueBytes) text = text.substr(0, kShownValueBytes) + "...";
    return text;
}

double decayPerPanel(double halfLife)
{
    return halfLife > 0 ? std::exp2(-1 / halfLife) : 1.0;
}

}  // namespace

LineStats::LineStats(double halfLife) : halfLife_(halfLife) {}

double LineStats::variance() const
{
    if (count_ < 2) return 0.0;
    const double effective = weight_ - weight2_ / weight_;
    return effective > 0 ? m2_ / effective : 0.0;
}

void LineStats::add(double optimum)
{
    const double decay = decayPerPanel(halfLife_);
    if (count_ < std::numeric_limits<unsigned long>::max()) ++count_;
    // Each panel weighs 1 at most, also once the count has saturated (where a
    // 32-bit count is exact in a double and one more would exceed it).
    const double most = static_cast<double>(count_);
    weight_ = std::min(decay * weight_ + 1, most);
    weight2_ = std::min(decay * decay * weight2_ + 1, weight_);
    const double delta = optimum - mean_;
    mean_ += delta / weight_;
    m2_ = decay * m2_ + delta * (optimum - mean_);
}

std::optional<LineStats> LineStats::parse(const std::string& text, double halfLife,
                                          std::string* error)
{
    const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    if (state.is_discarded() || !state.is_object()) {
        *error = std::string("not a JSON object") + kExpected;
        return std::nullopt;
    }
    const auto field = [&](const char* name, auto valid,
                           const std::string& what) -> const nlohmann::json* {
        const auto found = state.find(name);
        if (found == state.end()) {
            *error = std::string("no \"") + name + "\"" + kExpected;
            return nullptr;
        }
        if (!valid(*found)) {
            *error = std::string("\"") + name + "\" is " + shown(*found) + ", not " + what;
            return nullptr;
        }
        return &*found;
    };
    // A number from `lo` to `hi`, or nullptr with *error naming the field.
    const auto number = [&](const char* name, double lo, double hi) -> const nlohmann::json* {
        const auto within = [&](const nlohmann::json& v) {
            return v.is_number() && v.get<double>() >= lo && v.get<double>() <= hi;
        };
        return field(name, within, "a number from " + shown(lo) + " to " + shown(hi));
    };
    const auto countFits = [](const nlohmann::json& v) {
        return v.is_number_unsigned() &&
               v.get<std::uint64_t>() <= std::numeric_limits<unsigned long>::max();
    };
    const nlohmann::json* count = field("count", countFits, "a non-negative integer that fits");
    const nlohmann::json* mean = count ? number("mean", -kLargestCode, kLargestCode) : nullptr;
    const nlohmann::json* variance =
        mean ? number("variance", 0, kLargestCode * kLargestCode) : nullptr;
    if (variance == nullptr) return std::nullopt;

    LineStats stats(halfLife);
    stats.count_ = count->get<unsigned long>();
    stats.mean_ = mean->get<double>();
    stats.weight_ = stats.weight2_ = static_cast<double>(stats.count_);
    if (state.contains("weight") || state.contains("weight2")) {
        // Each panel weighs 1 at most.
        const nlohmann::json* weight = number("weight", 0, stats.weight_);
        const nlohmann::json* weight2 =
            weight ? number("weight2", 0, weight->get<double>()) : nullptr;
        if (weight2 == nullptr) return std::nullopt;
        stats.weight_ = weight->get<double>();
        stats.weight2_ = weight2->get<double>();
    }
    // No history weighs more than an endless one at this half-life.
    const double decay = decayPerPanel(halfLife);
    if (decay < 1) {
        stats.weight_ = std::min(stats.weight_, 1 / (1 - decay));
        stats.weight2_ = std::min(stats.weight2_, 1 / (1 - decay * decay));
    }
    const double effective =
        stats.weight_ > 0 ? stats.weight_ - stats.weight2_ / stats.weight_ : 0.0;
    stats.m2_ = stats.count_ < 2 || effective <= 0 ? 0.0 : variance->get<double>() * effective;
    return stats;
}

std::string LineStats::text() const
{
    const nlohmann::json state = {
        {"count", count_},
        {"mean", mean_},
        {"variance", variance()},
        {"weight", weight_},
        {"weight2", weight2_},
        {"half_life", halfLife_ > 0 ? nlohmann::json(halfLife_) : nlohmann::json()},
    };
    return state.dump() + "\n";
}

std::optional<LineStats> LineStats::load(const std::string& path, std::string* error,
                                         double halfLife)
{
    // Non-blocking, so that a FIFO in its place cannot hold the run.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 && errno == ENOENT) return LineStats(halfLife);
    if (fd.get() < 0 && errno == ELOOP) {
        *error = "the line state " + path + " is a symbolic link (name the file itself)";
        return std::nullopt;
    }
    if (fd.get() < 0) {
        *error = systemError("cannot read the line state", path, errno);
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "the line state " + path + " is not a regular file";
        return std::nullopt;
    }
    std::string text(kMaxLineStateBytes + 1, '\0');
    std::size_t got = 0;
    for (ssize_t n; got < text.size(); got += static_cast<std::size_t>(n)) {
        n = read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            n = 0;
        else if (n < 0) {
            *error = systemError("cannot read the line state", path, errno);
            return std::nullopt;
        } else if (n == 0)
            break;
    }
    if (got > kMaxLineStateBytes) {
        *error = "malformed line state " + path + ": larger than " +
                 std::to_string(kMaxLineStateBytes) + " bytes" + kExpected;
        return std::nullopt;
    }
    text.resize(got);
    std::string why;
    std::optional<LineStats> stats = parse(text, halfLife, &why);
    if (!stats) *error = "malformed line state " + path + ": " + why;
    return stats;
}

bool LineStats::save(const std::string& path, std::string* error) const
{
    std::string temporary;
    Fd fd(createSibling(path, &temporary));
    const auto fail = [&](const char* what, const std::string& name) {
        *error = systemError(what, name, errno) + " (is its directory writable?)";
        if (fd.get() >= 0) unlink(temporary.c_str());
        return false;
    };
    if (fd.get() < 0) return fail("cannot write the line state beside", path);
    struct stat old {};
    const mode_t mode = lstat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : newFileMode();
    if (fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), text()) || fsync(fd.get()) != 0) {
        return fail("cannot write the line state", temporary);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        return fail("cannot replace the line state", path);
    }
    Fd directory(::open(splitPath(path).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0 || fsync(directory.get()) != 0) {
        *error = systemError("cannot sync the directory of the line state", path, errno);
        return false;
    }
    return true;
}

LineStateFile::LineStateFile(std::string path, double halfLife, int lockFd, LineStats stats)
    : path_(std::move(path)), halfLife_(halfLife), lockFd_(lockFd), stats_(std::move(stats))
{
}

LineStateFile::~LineStateFile()
{
    close(lockFd_);
}

std::unique_ptr<LineStateFile> LineStateFile::open(const std::string& path, double halfLife,
                                                   std::string* error)
{
    std::optional<LineStats> stats = LineStats::load(path, error, halfLife);
    if (!stats) return nullptr;
    std::string probe;
    Fd probeFd(createSibling(path, &probe));
    if (probeFd.get() < 0) {
        *error = systemError("cannot write the line state beside", path, errno) +
                 " (is its directory writable?)";
        return nullptr;
    }
    unlink(probe.c_str());
    const std::string lockPath = path + kLockSuffix;
    // Read-only is enough for flock, and lets a station use a lock another made.
    Fd lock(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                   kNewFileMode));
    struct stat info {};
    if (lock.get() < 0 || fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = lock.get() < 0 ? systemError("cannot open the lock", lockPath, errno)
                                : "the lock " + lockPath + " is not a regular file";
        if (errno == ELOOP) *error += " (a symbolic link is not used)";
        return nullptr;
    }
    return std::unique_ptr<LineStateFile>(
        new LineStateFile(path, halfLife, lock.release(), std::move(*stats)));
}

bool LineStateFile::add(double optimum, std::string* error)
{
    while (flock(lockFd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = systemError("cannot lock", path_ + kLockSuffix, errno);
            return false;
        }
    }
    std::optional<LineStats> current = LineStats::load(path_, error, halfLife_);
    bool saved = false;
    if (current) {
        current->add(optimum);
        saved = current->save(path_, error);
        if (saved) stats_ = std::move(*current);
    }
    flock(lockFd_, LOCK_UN);
    return saved;
}

}  // namespace vcomcal
}  // namespace ze
