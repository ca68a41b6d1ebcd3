#include <ze/vcomcal/meter.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

extern char** environ;

namespace ze {
namespace vcomcal {
namespace {

// Characters that only a shell gives a meaning to.
constexpr const char* kShellSyntax = "|&;<>()$`\\\"'*?[]#~=%{}!\n";
constexpr const char* kShell = "/bin/sh";
constexpr const char* kValueVariable = "VCOM_VALUE";
constexpr int kExecFailedStatus = 127;
// A stdio meter gets this long to exit after its stdin closes.
constexpr std::chrono::milliseconds kExitGrace{1000};

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
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

// A meter process with one socket as its stdin and stdout (a socket, so that
// writing to a meter that died reports EPIPE instead of raising SIGPIPE).
class Child {
public:
    Child(const std::string& commandLine, unsigned value, bool stdinFromParent)
        : name_("meter '" + commandLine + "'")
    {
        const std::vector<std::string> args = argumentsOf(commandLine);
        if (args.empty()) throw MeterError("empty meter command");
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            throw MeterError(systemError("cannot connect to " + name_));
        }
        fd_ = ends[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdinFromParent) {
            posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);

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

        const int status =
            posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        if (status != 0) {
            close(fd_);
            throw MeterError("cannot start " + name_ + ": " + std::strerror(status) +
                             " (is the program installed and on PATH?)");
        }
    }

    ~Child()
    {
        shutdown(fd_, SHUT_WR);
        if (!exited_) {
            // Whatever the meter still says is dropped; its exit ends the wait.
            try {
                std::string ignored;
                while (receive(ignored, kExitGrace) > 0) ignored.clear();
            } catch (const MeterError&) {
            }
        }
        close(fd_);
        reap(true);
    }

    const std::string& name() const { return name_; }

    void send(const std::string& text)
    {
        if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(text.size())) {
            throw MeterError(systemError("cannot write to " + name_));
        }
    }

    // One line (without its newline) within `timeout`.
    std::string line(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string got = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return got;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const ssize_t n = receive(pending_, std::max(left, std::chrono::milliseconds(0)));
            if (n == 0 && !pending_.empty()) return std::exchange(pending_, {});
            if (n == 0) throw MeterError(name_ + " ended without a reading" + exitText());
        }
    }

    // Everything up to the end of the output, within `timeout`.
    std::string all(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (receive(pending_, std::chrono::duration_cast<std::chrono::milliseconds>(
                                     deadline - std::chrono::steady_clock::now())) > 0) {
        }
        reap(false);
        if (!WIFEXITED(status_) || WEXITSTATUS(status_) != 0) {
            throw MeterError(name_ + " failed" + exitText());
        }
        return pending_;
    }

private:
    // Bytes appended to `into`; 0 at the end of the output; throws on timeout.
    ssize_t receive(std::string& into, std::chrono::milliseconds timeout)
    {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::max<long>(0, timeout.count())));
        if (ready < 0) throw MeterError(systemError("cannot wait for " + name_));
        if (ready == 0) {
            throw MeterError(name_ + " gave no reading within " + std::to_string(timeout.count()) +
                             " ms (raise --meter-timeout if it is slow)");
        }
        char buffer[256];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) throw MeterError(systemError("cannot read from " + name_));
        into.append(buffer, static_cast<std::size_t>(n));
        return n;
    }

    // `force`: a meter that has not exited yet is terminated.
    void reap(bool force)
    {
        if (exited_) return;
        exited_ = true;
        if (force && waitpid(pid_, &status_, WNOHANG) == pid_) return;
        if (force) kill(pid_, SIGTERM);
        waitpid(pid_, &status_, 0);
    }

    std::string exitText()
    {
        reap(true);
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
    pid_t pid_ = -1;
    int fd_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::string pending_;
};

class CommandMeter : public Meter {
public:
    CommandMeter(std::string commandLine, std::chrono::milliseconds timeout)
        : commandLine_(std::move(commandLine)), timeout_(timeout)
    {
    }

    double read(unsigned value) override
    {
        Child child(commandLine_, value, false);
        return parseReading(child.all(timeout_), child.name());
    }

private:
    std::string commandLine_;
    std::chrono::milliseconds timeout_;
};

class StdioMeter : public Meter {
public:
    StdioMeter(const std::string& commandLine, std::chrono::milliseconds timeout)
        : child_(commandLine, 0, true), timeout_(timeout)
    {
    }

    double read(unsigned value) override
    {
        child_.send(std::to_string(value) + "\n");
        return parseReading(child_.line(timeout_), child_.name());
    }

private:
    Child child_;
    std::chrono::milliseconds timeout_;
};

}  // namespace

Meter::~Meter() = default;

std::unique_ptr<Meter> commandMeter(const std::string& commandLine,
                                    std::chrono::milliseconds timeout)
{
    return std::make_unique<CommandMeter>(commandLine, timeout);
}

std::unique_ptr<Meter> stdioMeter(const std::string& commandLine, std::chrono::milliseconds timeout)
{
    return std::make_unique<StdioMeter>(commandLine, timeout);
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
        std::string shown = line.substr(0, line.find_last_not_of(" \t\r\n") + 1);
        throw MeterError(meter + " printed '" + shown + "', not one number");
    }
    return value;
}

}  // namespace vcomcal
}  // namespace ze
