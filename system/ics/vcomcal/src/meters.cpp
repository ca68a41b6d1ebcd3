#include <ze/vcomcal/meter.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace ze {
namespace vcomcal {
namespace {

using Clock = std::chrono::steady_clock;

// Characters that only a shell gives a meaning to.
constexpr const char* kShellSyntax = "|&;<>()$`\\\"'*?[]#~=%{}!\n";
constexpr const char* kShell = "/bin/sh";
constexpr const char* kValueVariable = "VCOM_VALUE";
constexpr int kExecFailedStatus = 127;
// The signals a meter gets at their default action, whatever vcomctl does with them.
constexpr int kDefaultedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr std::size_t kReadChunk = 4096;
// What a stdio meter may print unasked between two requests before it is
// taken for a meter that talks without end.
constexpr std::size_t kMaxUnaskedBytes = 16 * kMaxMeterLine;
// How often a meter's exit is looked for while it is given time to end.
constexpr std::chrono::milliseconds kExitPoll{5};
constexpr const char* kEllipsis = "...";

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Meter output in an error message: one line of printable ASCII, short.
std::string quoted(const std::string& text)
{
    std::string shown = "'";
    const std::size_t shownBytes = std::min(text.size(), kQuotedMeterBytes);
    for (std::size_t i = 0; i < shownBytes; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isprint(c) && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escaped[sizeof "\\xff"];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    if (shownBytes < text.size()) shown += kEllipsis;
    return shown + "'";
}

std::vector<std::string> argumentsOf(const std::string& commandLine)
{
    if (commandLine.find_first_of(kShellSyntax) != std::string::npos) {
        return {kShell, "-c", commandLine};
    }
    std::istringstream words(commandLine);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    return args;
}

// Spawn attributes that contain the meter: its own process group, no signal
// blocked (vcomctl blocks the stop signals for its signal thread), the stop
// signals at their defaults.
class ContainedSpawn {
public:
    ContainedSpawn()
    {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigset_t defaulted;
        sigemptyset(&none);
        sigemptyset(&defaulted);
        for (int signal : kDefaultedSignals) sigaddset(&defaulted, signal);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setsigdefault(&attributes_, &defaulted);
        posix_spawnattr_setpgroup(&attributes_, 0);
        posix_spawnattr_setflags(
            &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_init(&actions_);
    }
    ~ContainedSpawn()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    ContainedSpawn(const ContainedSpawn&) = delete;
    ContainedSpawn& operator=(const ContainedSpawn&) = delete;

    posix_spawn_file_actions_t* actions() { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

// A meter process with one socket as its stdin and stdout (a socket, so that
// writing to a meter that died reports EPIPE instead of raising SIGPIPE).
class Child {
public:
    Child(const std::string& commandLine, unsigned value, bool stdinFromParent,
          std::chrono::milliseconds timeout, StopRequested stop)
        : name_("meter '" + commandLine + "'"),
          timeout_(timeout),
          stop_(std::move(stop)),
          stdinFromParent_(stdinFromParent)
    {
        if (stopRequested()) throw MeterInterrupted(name_ + " not started: a stop was requested");
        const std::vector<std::string> args = argumentsOf(commandLine);
        if (args.empty()) throw MeterError("empty meter command");
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            throw MeterError(systemError("cannot connect to " + name_));
        }
        fd_ = ends[0];
        ContainedSpawn spawn;
        if (stdinFromParent) {
            posix_spawn_file_actions_adddup2(spawn.actions(), ends[1], STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(spawn.actions(), STDIN_FILENO, "/dev/null", O_RDONLY,
                                             0);
        }
        posix_spawn_file_actions_adddup2(spawn.actions(), ends[1], STDOUT_FILENO);

        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, kValueVariable, std::strlen(kValueVariable)) != 0)
                env.push_back(*e);
        }
        env.push_back(std::string(kValueVariable) + "=" + std::to_string(value));
        std::vector<char*> argv, envp;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        const int status = posix_spawnp(&pid_, argv[0], spawn.actions(), spawn.attributes(),
                                        argv.data(), envp.data());
        close(ends[1]);
        if (status != 0) {
            close(fd_);
            throw MeterError("cannot start " + name_ + ": " + std::strerror(status) +
                             " (is the program installed and on PATH?)");
        }
    }

    ~Child()
    {
        if (!reaped_ && stdinFromParent_) {
            shutdown(fd_, SHUT_WR);
            exitsBy(Clock::now() + kMeterExitGrace, true);
        }
        terminate();
        close(fd_);
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    const std::string& name() const { return name_; }
    unsigned long staleLines() const { return stale_; }

    void send(const std::string& text)
    {
        if (stopRequested()) abandon();
        if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(text.size())) {
            throw MeterError(systemError("cannot write to " + name_));
        }
    }

    // Drops the lines that arrived since the last answer, so that the next
    // line taken is one begun after the next request.
    void dropUnasked()
    {
        bool partial = skipPartial_;
        const auto take = [&](const char* bytes, std::size_t size) {
            for (const char* c = bytes; c != bytes + size; ++c) {
                if (*c == '\n') ++stale_;
                partial = *c != '\n';
            }
        };
        take(pending_.data(), pending_.size());
        pending_.clear();
        char chunk[kReadChunk];
        for (std::size_t dropped = 0;;) {
            const ssize_t n = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0) throw MeterError(systemError("cannot read from " + name_));
            if (n == 0) break;
            take(chunk, static_cast<std::size_t>(n));
            dropped += static_cast<std::size_t>(n);
            if (dropped > kMaxUnaskedBytes) {
                throw MeterError(name_ + " prints without being asked (" + std::to_string(stale_) +
                                 " lines dropped)");
            }
        }
        skipPartial_ = partial;
    }

    // One line (without its newline) within the timeout.
    std::string line()
    {
        const auto deadline = Clock::now() + timeout_;
        for (;;) {
            const std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string got = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (!std::exchange(skipPartial_, false)) return got;
                ++stale_;
                continue;
            }
            refuseLongerThan(kMaxMeterLine);
            if (!receive(deadline)) {
                if (!pending_.empty() && !skipPartial_) return std::exchange(pending_, {});
                terminate();
                throw MeterError(name_ + " ended without a reading" + exitText());
            }
        }
    }

    // Everything the meter prints before it exits, within the timeout; it
    // must exit 0.
    std::string all()
    {
        const auto deadline = Clock::now() + timeout_;
        while (receive(deadline)) refuseLongerThan(kMaxMeterLine);
        // Its output closed: it gets the rest of the timeout to exit.
        if (!exitsBy(deadline, true)) abandon();
        terminate();
        if (!WIFEXITED(status_) || WEXITSTATUS(status_) != 0) {
            throw MeterError(name_ + " failed" + exitText());
        }
        return pending_;
    }

private:
    bool stopRequested() const { return stop_ && stop_(); }

    // A reading given up, for a stop request or the timeout.
    [[noreturn]] void abandon()
    {
        terminate();
        if (stopRequested()) throw MeterInterrupted(name_ + " abandoned: a stop was requested");
        throw MeterError(name_ + " gave no reading within " + std::to_string(timeout_.count()) +
                         " ms (raise --meter-timeout if it is slow)");
    }

    // The rest of such a line could be taken for an answer: the meter ends.
    void refuseLongerThan(std::size_t bytes)
    {
        if (pending_.size() <= bytes) return;
        terminate();
        throw MeterError(name_ + " printed more than " + std::to_string(bytes) +
                         " bytes on a line: " + quoted(pending_));
    }

    bool readable(std::chrono::milliseconds wait)
    {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR) throw MeterError(systemError("cannot wait for " + name_));
        return ready > 0;
    }

    // Appends the meter's next output to pending_, waiting a slice at a time
    // until `deadline` so that a stop is seen. False at the end of its output:
    // closed, or the meter exited (a child it left may hold the output open).
    bool receive(Clock::time_point deadline)
    {
        for (;;) {
            const auto now = Clock::now();
            if (stopRequested() || now >= deadline) abandon();
            const auto slice = std::min<Clock::duration>(kMeterStopPoll, deadline - now);
            const bool waiting = readable(std::chrono::ceil<std::chrono::milliseconds>(slice));
            if (!waiting && !leaderExited()) continue;
            char chunk[kReadChunk];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, waiting ? 0 : MSG_DONTWAIT);
            if (n < 0 && !waiting && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw MeterError(systemError("cannot read from " + name_));
            if (n == 0) return false;
            pending_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    }

    // The meter process has exited (not reaped, so that its process group
    // stays its own until the group is killed).
    bool leaderExited()
    {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }

    // Waits for the meter to exit, dropping what it prints meanwhile; false
    // at `deadline` or, with `heedStop`, once a stop is requested.
    bool exitsBy(Clock::time_point deadline, bool heedStop)
    {
        char sink[kReadChunk];
        while (!leaderExited()) {
            if (Clock::now() >= deadline || (heedStop && stopRequested())) return false;
            if (!outputClosed_ && readable(kExitPoll)) {
                outputClosed_ = recv(fd_, sink, sizeof sink, MSG_DONTWAIT) == 0;
            } else if (outputClosed_) {
                std::this_thread::sleep_for(kExitPoll);
            }
        }
        return true;
    }

    // The whole process group: SIGTERM, a grace to end, SIGKILL; then the
    // meter is reaped.
    void terminate()
    {
        if (reaped_) return;
        kill(-pid_, SIGTERM);
        exitsBy(Clock::now() + kMeterKillGrace, false);
        kill(-pid_, SIGKILL);
        while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }

    std::string exitText() const
    {
        // Where the spawn cannot report a failed exec (an emulated vfork), the
        // child exits 127, as a shell does for a command it cannot run.
        if (WIFEXITED(status_) && WEXITSTATUS(status_) == kExecFailedStatus)
            return " (exit status 127: cannot start it; is the program installed and on PATH?)";
        if (WIFEXITED(status_))
            return " (exit status " + std::to_string(WEXITSTATUS(status_)) + ")";
        if (WIFSIGNALED(status_)) return std::string(" (") + strsignal(WTERMSIG(status_)) + ")";
        return "";
    }

    std::string name_;
    std::chrono::milliseconds timeout_;
    StopRequested stop_;
    bool stdinFromParent_;
    pid_t pid_ = -1;
    int fd_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    bool outputClosed_ = false;
    // The output holds the rest of a line begun before the current request.
    bool skipPartial_ = false;
    unsigned long stale_ = 0;
    std::string pending_;
};

class CommandMeter : public Meter {
public:
    CommandMeter(std::string commandLine, std::chrono::milliseconds timeout, StopRequested stop)
        : commandLine_(std::move(commandLine)), timeout_(timeout), stop_(std::move(stop))
    {
    }

    double read(unsigned value) override
    {
        Child child(commandLine_, value, false, timeout_, stop_);
        return parseReading(child.all(), child.name());
    }

private:
    std::string commandLine_;
    std::chrono::milliseconds timeout_;
    StopRequested stop_;
};

class StdioMeter : public Meter {
public:
    StdioMeter(const std::string& commandLine, std::chrono::milliseconds timeout,
               StopRequested stop)
        : child_(commandLine, 0, true, timeout, std::move(stop))
    {
    }

    double read(unsigned value) override
    {
        child_.dropUnasked();
        child_.send(std::to_string(value) + "\n");
        return parseReading(child_.line(), child_.name());
    }

    unsigned long staleLines() const override { return child_.staleLines(); }

private:
    Child child_;
};

}  // namespace

Meter::~Meter() = default;

std::unique_ptr<Meter> commandMeter(const std::string& commandLine,
                                    std::chrono::milliseconds timeout, StopRequested stopRequested)
{
    return std::make_unique<CommandMeter>(commandLine, timeout, std::move(stopRequested));
}

std::unique_ptr<Meter> stdioMeter(const std::string& commandLine, std::chrono::milliseconds timeout,
                                  StopRequested stopRequested)
{
    return std::make_unique<StdioMeter>(commandLine, timeout, std::move(stopRequested));
}

double parseReading(const std::string& line, const std::string& meter)
{
    const char* begin = line.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    const bool blankAfter =
        end != begin && line.find_first_not_of(" \t\r\n", end - begin) == std::string::npos;
    if (end == begin || !blankAfter || errno == ERANGE || !std::isfinite(value)) {
        const std::size_t last = line.find_last_not_of(" \t\r\n");
        const std::string shown = last == std::string::npos ? "" : line.substr(0, last + 1);
        throw MeterError(meter + " printed " + quoted(shown) + ", not one number");
    }
    return value;
}

}  // namespace vcomcal
}  // namespace ze
