#include "app.h"

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "command_line.h"
#include "console.h"
#include "driver_log.h"
#include "platform_setup.h"
#include "plot_command.h"
#include "report.h"
#include "runner.h"
#include "session.h"
#include "value.h"

namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

// The kernel's smallest timer slack: the driver's waits end when they are due
// rather than up to 50 us later, the default slack of a normal thread.
constexpr unsigned long kTimerSlackNs = 1;

CommandResult chipsResult()
{
    CommandResult result;
    result.name = "chips";
    result.op = Op::Chips;
    return result;
}

bool touchesChip(const Command& command)
{
    return command.op == Op::Read || command.op == Op::Update || command.op == Op::Save ||
           command.op == Op::Pattern || command.op == Op::Calibrate;
}

std::string signalName(int signal)
{
    return std::string("SIG") + sigabbrev_np(signal);
}

// How a run ends: its exit status and, for a failure, its one-line reason.
struct RunEnd {
    int exitCode = kExitOk;
    std::string error;
};

// The commands of one command line, or of one session line; a line that was
// refused carries its reason instead.
struct Batch {
    std::vector<Command> commands;
    std::string refusal;
};
using BatchSource = std::function<std::optional<Batch>()>;

class Run {
public:
    Run(const Options& options, const Io& io)
        : options_(options),
          io_(io),
          console_(io.err, io.progress),
          reporter_(io.out, options.style())
    {
    }

    int execute()
    {
        prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
        const RunEnd end = options_.session || std::any_of(options_.commands.begin(),
                                                           options_.commands.end(), needsDriver)
                               ? withDriverLog()
                               : chipsOnly();
        reporter_.finish(end.exitCode, end.error);
        if (!end.error.empty()) console_.line("vcomctl: " + end.error);
        return end.exitCode;
    }

private:
    RunEnd chipsOnly()
    {
        for (std::size_t i = 0; i < options_.commands.size(); ++i) reporter_.result(chipsResult());
        return RunEnd{};
    }

    RunEnd withDriverLog()
    {
        DriverLog log(options_.verbose, [this](const std::string& line) { console_.line(line); });
        // Held from before anything is created: a stop meanwhile is seen after
        // the install, and the setup's destructor removes what it made.
        if (io_.stop != nullptr) hold_ = io_.stop->hold();
        Failure failure;
        std::unique_ptr<PlatformSetup> platform = PlatformSetup::plan(options_, &failure);
        if (!platform) return RunEnd{failure.exitCode, failure.error};
        chip_ = catalogue::byTypeIdx(platform->board().typeIdx);
        if (std::optional<RunEnd> refused = refusal(*platform)) return *refused;
        if (!platform->install(&failure)) return RunEnd{failure.exitCode, failure.error};
        reporter_.setContext(RunContext{platform->backend().name(), platform->userRoot(),
                                        chip_ != nullptr ? chip_->name : ""});
        if (std::optional<RunEnd> stop = stopped()) return *stop;
        if (io_.stop != nullptr) {
            io_.stop->setIdleStop([this, &platform](int signal) {
                platform->emergencyCleanup();
                console_.line("vcomctl: stopped by " + signalName(signal));
            });
        }
        const RunEnd end = bringUpAndRun(*platform, log);
        if (io_.stop != nullptr) io_.stop->setIdleStop(nullptr);
        hold_ = std::unique_lock<std::mutex>();
        return end;
    }

    RunEnd bringUpAndRun(PlatformSetup& platform, DriverLog& log)
    {
        std::string error;
        std::unique_ptr<DriverSession> session =
            DriverSession::open(platform.board().i2cBus, &error);
        if (!session) return RunEnd{kExitFailed, error};
        TraceTap tap(platform.backend());
        Runner::Hooks hooks;
        hooks.begin = [this](const std::string& name) { console_.beginActivity(name); };
        hooks.end = [this] { console_.endActivity(); };
        if (options_.verbose)
            hooks.note = [this](const std::string& text) { console_.line("vcomctl: " + text); };
        Runner runner(Runner::Setup{session->vcom(), session->driver(), log, tap, &platform,
                                    options_.trace != TraceMode::Off, options_.verify,
                                    &options_.calibrate, io_.stop},
                      hooks);
        const CommandResult init = runner.init();
        reporter_.init(init);
        if (!init.ok) return RunEnd{kExitFailed, "driver initialization: " + init.error};
        if (options_.session) return runBatches(runner, sessionLines(platform));
        bool given = false;
        return runBatches(runner, [this, &given]() -> std::optional<Batch> {
            if (given) return std::nullopt;
            given = true;
            return Batch{options_.commands, ""};
        });
    }

    // The one command loop: a command line's commands end the run at the
    // first failure; a session tells it and goes on with the next line.
    RunEnd runBatches(Runner& runner, const BatchSource& next)
    {
        bool anyFailed = false;
        bool anyRefused = false;
        for (unsigned long number = 1;; ++number) {
            const std::optional<Batch> batch = next();
            if (!batch) break;
            if (std::optional<RunEnd> stop = stopped()) return *stop;
            if (!batch->refusal.empty()) {
                anyRefused = true;
                sessionError(kExitUsage, "line " + std::to_string(number) + ": " + batch->refusal);
            }
            for (const Command& command : batch->commands) {
                const CommandResult result =
                    command.op == Op::Chips ? chipsResult() : runner.run(command);
                reporter_.result(result);
                // A command the stop cut short (a calibration) ends as the stop does.
                if (std::optional<RunEnd> stop = stoppedBy(result)) return *stop;
                if (!result.ok && !options_.session) return RunEnd{kExitFailed, result.error};
                if (!result.ok) {
                    anyFailed = true;
                    if (!options_.json) console_.line("vcomctl: " + result.error);
                    break;
                }
                if (std::optional<RunEnd> stop = stopped(&command)) return *stop;
            }
        }
        return RunEnd{anyFailed ? kExitFailed : anyRefused ? kExitUsage : kExitOk, ""};
    }

    void sessionError(int exitCode, const std::string& text)
    {
        reporter_.refused(exitCode, text);
        if (!options_.json) console_.line("vcomctl: " + text);
    }

    // stdin's lines, each parsed and checked as a command line is; a blank
    // line or a comment is an empty batch.
    BatchSource sessionLines(const PlatformSetup& platform)
    {
        return [this, &platform]() -> std::optional<Batch> {
            std::string line;
            // Unlocked while waiting, so that a signal then ends the run at once.
            if (hold_) hold_.unlock();
            const LineRead got = readSessionLine(io_.in, &line);
            if (hold_.mutex() != nullptr) hold_.lock();
            if (got == LineRead::End) return std::nullopt;
            if (got == LineRead::TooLong) {
                return Batch{{},
                             "longer than " + std::to_string(kMaxSessionLine) +
                                 " bytes, refused: " + quoteText(line)};
            }
            const std::string::size_type start = line.find_first_not_of(" \t\r");
            if (start == std::string::npos || line[start] == '#') return Batch{};
            const ParseOutcome parsed = parseSessionLine(line);
            if (!parsed.run) return Batch{{}, parsed.error};
            std::string why = rangeProblem(parsed.options.commands);
            if (why.empty()) why = unconfirmedSave(parsed.options.commands, platform);
            if (!why.empty()) return Batch{{}, why};
            return Batch{parsed.options.commands, ""};
        };
    }

    // A stop asked for by a signal; `after` is the command that was let finish.
    std::optional<RunEnd> stopped(const Command* after = nullptr) const
    {
        const int signal = io_.stop != nullptr ? io_.stop->requested() : 0;
        if (signal == 0) return std::nullopt;
        std::string text = "stopped by " + signalName(signal);
        if (after != nullptr) text += " after " + describe(*after) + " completed its sequence";
        return RunEnd{kExitSignalBase + signal, text};
    }

    // The run ended as stopped when `result` failed because a stop arrived.
    std::optional<RunEnd> stoppedBy(const CommandResult& result) const
    {
        const int signal = io_.stop != nullptr ? io_.stop->requested() : 0;
        if (result.ok || signal == 0) return std::nullopt;
        return RunEnd{kExitSignalBase + signal,
                      "stopped by " + signalName(signal) + ": " + result.error};
    }

    std::string rangeProblem(const std::vector<Command>& commands) const
    {
        for (const Command& command : commands) {
            if (!touchesChip(command)) continue;
            if (chip_ == nullptr) return "";  // refused at bring-up
            const std::string why = checkRange(command, *chip_);
            if (!why.empty()) return why;
        }
        return "";
    }

    // Refuses, before anything is written or reaches the chip, a board file
    // the tool cannot trust, a chip the driver does not support, values the
    // chip cannot hold and a save not confirmed.
    std::optional<RunEnd> refusal(const PlatformSetup& platform)
    {
        const bool acts = options_.session || std::any_of(options_.commands.begin(),
                                                          options_.commands.end(), touchesChip);
        if (!platform.boardProblem().empty()) {
            if (acts) return RunEnd{kExitFailed, platform.boardProblem()};
            console_.line("vcomctl: warning: " + platform.boardProblem() +
                          "; the driver runs its defaults");
        }
        if (acts && chip_ == nullptr) {
            return RunEnd{kExitFailed,
                          "the board's TypeIdx " + std::to_string(platform.board().typeIdx) +
                              " names no chip the driver supports (see vcomctl chips)"};
        }
        const std::string why = rangeProblem(options_.commands);
        if (!why.empty()) return RunEnd{kExitUsage, why};
        const std::string unconfirmed = unconfirmedSave(options_.commands, platform);
        if (!unconfirmed.empty()) return RunEnd{kExitFailed, unconfirmed};
        return std::nullopt;
    }

    // An MTP save cannot be taken back: on hardware, a person at a terminal
    // confirms it, as i2cset asks before it writes. "" when all are confirmed.
    std::string unconfirmedSave(const std::vector<Command>& commands, const PlatformSetup& platform)
    {
        const bool mtp = chip_ != nullptr && chip_->readShowsStored;
        if (platform.simulated() || !mtp || options_.assumeYes || !io_.interactive) return "";
        for (const Command& command : commands) {
            if (command.op != Op::Save) continue;
            const BoardConfig& board = platform.board();
            console_.line("vcomctl: " + describe(command) + " programs the MTP of the " +
                          chip_->name + " at " + deviceText(board.vcomAddr) + " on bus " +
                          std::to_string(board.i2cBus) + ". Continue? [y/N]");
            std::string answer;
            std::getline(io_.in, answer);
            if (answer != "y" && answer != "Y" && answer != "yes")
                return describe(command) + ": not confirmed; nothing was done";
        }
        return "";
    }

    const Options& options_;
    const Io& io_;
    Console console_;
    Reporter reporter_;
    const ChipInfo* chip_ = nullptr;
    std::unique_lock<std::mutex> hold_;
};

}  // namespace

int runVcomctl(const std::vector<std::string>& args, const Io& io)
{
    if (isPlotCommand(args)) return runPlotCommand(args, io.out, io.err);
    const ParseOutcome parsed = parseCommandLine(args);
    if (parsed.run) return Run(parsed.options, io).execute();
    io.out << parsed.out;
    if (!parsed.error.empty()) {
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            Reporter(io.out, ReportStyle{true}).finish(parsed.exitCode, parsed.error);
        }
        io.err << "vcomctl: " << parsed.error << "\n";
    }
    return parsed.exitCode;
}

}  // namespace vcomctl
