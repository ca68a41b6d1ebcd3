// One run: the command line parsed into an immutable plan (command_line.cpp),
// the platform set up for it (platform_setup.cpp, sim_setup.cpp), one command
// loop over the driver (runner.cpp), each result reported as it comes
// (report/).

#include "app.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "command_line.h"
#include "driver_log.h"
#include "platform_setup.h"
#include "report.h"
#include "runner.h"
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

const ChipInfo* boardChip(const PlatformSetup& platform)
{
    return catalogue::byTypeIdx(platform.board().typeIdx);
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
        : options_(options), io_(io), console_(io.err, io.progress), reporter_(io.out, style())
    {
    }

    int execute()
    {
        prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
        const bool driver =
            options_.session || std::any_of(options_.commands.begin(), options_.commands.end(),
                                            [](const Command& c) { return c.op != Op::Chips; });
        const RunEnd end = driver ? withDriverLog() : RunEnd{};
        if (!driver) {
            for (std::size_t i = 0; i < options_.commands.size(); ++i)
                reporter_.result(chipsResult());
        }
        reporter_.finish(end.exitCode, end.error);
        if (!end.error.empty()) console_.line("vcomctl: " + end.error);
        return end.exitCode;
    }

private:
    ReportStyle style() const
    {
        return ReportStyle{options_.json, options_.valueOnly, options_.session, options_.trace};
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
        if (std::optional<RunEnd> refused = refusal(*platform)) return *refused;
        if (!platform->install(&failure)) return RunEnd{failure.exitCode, failure.error};
        const ChipInfo* chip = boardChip(*platform);
        reporter_.setContext(RunContext{platform->backend().name(), platform->userRoot(),
                                        chip != nullptr ? chip->name : ""});
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
        const std::unique_ptr<Runner> runner =
            openRunner(RunnerSetup{options_, platform, log, console_, io_.stop}, &error);
        if (!runner) return RunEnd{kExitFailed, error};
        const CommandResult init = runner->init();
        reporter_.init(init);
        if (!init.ok) return RunEnd{kExitFailed, "driver initialization: " + init.error};
        if (options_.session) return runBatches(*runner, sessionLines(platform));
        bool given = false;
        return runBatches(*runner, [this, &given]() -> std::optional<Batch> {
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
                const std::string text = "line " + std::to_string(number) + ": " + batch->refusal;
                reporter_.refused(kExitUsage, text);
                if (!options_.json) console_.line("vcomctl: " + text);
            }
            for (const Command& command : batch->commands) {
                const CommandResult result =
                    command.op == Op::Chips ? chipsResult() : runner.run(command);
                reporter_.result(result);
                // A command the stop cut short (a calibration) ends as the stop does.
                if (std::optional<RunEnd> stop = stopped(nullptr, &result)) return *stop;
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
            std::string why = rangeProblem(parsed.options.commands, platform);
            if (why.empty()) why = unconfirmedSave(parsed.options.commands, platform);
            if (!why.empty()) return Batch{{}, why};
            return Batch{parsed.options.commands, ""};
        };
    }

    // A stop asked for by a signal; `after` is the command that was let
    // finish, `cut` a result that failed because the stop arrived.
    std::optional<RunEnd> stopped(const Command* after = nullptr,
                                  const CommandResult* cut = nullptr) const
    {
        const int signal = io_.stop != nullptr ? io_.stop->requested() : 0;
        if (signal == 0 || (cut != nullptr && cut->ok)) return std::nullopt;
        std::string text = "stopped by " + signalName(signal);
        if (after != nullptr) text += " after " + describe(*after) + " completed its sequence";
        if (cut != nullptr) text += ": " + cut->error;
        return RunEnd{kExitSignalBase + signal, text};
    }

    static std::string rangeProblem(const std::vector<Command>& commands,
                                    const PlatformSetup& platform)
    {
        const ChipInfo* chip = boardChip(platform);
        for (const Command& command : commands) {
            // Without a chip the bring-up refuses the run.
            const std::string why =
                touchesChip(command) && chip != nullptr ? checkRange(command, *chip) : "";
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
        if (acts && boardChip(platform) == nullptr) {
            return RunEnd{kExitFailed,
                          "the board's TypeIdx " + std::to_string(platform.board().typeIdx) +
                              " names no chip the driver supports (see vcomctl chips)"};
        }
        const std::string why = rangeProblem(options_.commands, platform);
        if (!why.empty()) return RunEnd{kExitUsage, why};
        const std::string unconfirmed = unconfirmedSave(options_.commands, platform);
        if (!unconfirmed.empty()) return RunEnd{kExitFailed, unconfirmed};
        return std::nullopt;
    }

    // An MTP save cannot be taken back: on hardware, a person at a terminal
    // confirms it, as i2cset asks before it writes. "" when all are confirmed.
    std::string unconfirmedSave(const std::vector<Command>& commands, const PlatformSetup& platform)
    {
        const ChipInfo* chip = boardChip(platform);
        const bool mtp = chip != nullptr && chip->readShowsStored;
        if (platform.simulated() || !mtp || options_.assumeYes || !io_.interactive) return "";
        for (const Command& command : commands) {
            if (command.op != Op::Save) continue;
            const BoardConfig& board = platform.board();
            console_.line("vcomctl: " + describe(command) + " programs the MTP of the " +
                          chip->name + " at " + deviceText(board.vcomAddr) + " on bus " +
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
    std::unique_lock<std::mutex> hold_;
};

}  // namespace

int runVcomctl(const std::vector<std::string>& args, const Io& io)
{
    if (const std::optional<int> drawn = runPlotCommand(args, io.out, io.err)) return *drawn;
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
