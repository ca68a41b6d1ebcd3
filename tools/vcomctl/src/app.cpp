#include "app.h"

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
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

std::string signalName(int signal);

class Run {
public:
    Run(const Options& options, const Io& io)
        : options_(options), io_(io), console_(io.err, io.progress), reporter_(io.out, options)
    {
    }

    int execute()
    {
        prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
        const bool driver = options_.session || std::any_of(options_.commands.begin(),
                                                            options_.commands.end(), needsDriver);
        if (driver) {
            DriverLog log(options_.verbose,
                          [this](const std::string& line) { console_.line(line); });
            withPlatform(log);
        } else {
            for (std::size_t i = 0; i < options_.commands.size(); ++i) {
                reporter_.result(chipsResult());
            }
        }
        reporter_.finish(exitCode_, error_);
        if (!error_.empty()) console_.line("vcomctl: " + error_);
        return exitCode_;
    }

private:
    void fail(int exitCode, const std::string& reason)
    {
        exitCode_ = exitCode;
        error_ = reason;
    }

    void withPlatform(DriverLog& log)
    {
        // Held from before anything is created: a stop meanwhile is seen after
        // the install, and the setup's destructor removes what it made.
        if (io_.stop != nullptr) hold_ = io_.stop->hold();
        Failure failure;
        std::unique_ptr<PlatformSetup> platform = PlatformSetup::plan(options_, log, &failure);
        if (!platform) return fail(failure.exitCode, failure.error);
        chip_ = catalogue::byTypeIdx(platform->board().typeIdx);
        if (!boardFits(*platform)) return;
        if (!options_.session && !confirmSaves(options_.commands, *platform)) return;
        if (!platform->install(&failure)) return fail(failure.exitCode, failure.error);
        reporter_.setContext(RunContext{platform->backend().name(), platform->userRoot(),
                                        chip_ != nullptr ? chip_->name : ""});

        if (stopped()) return;
        if (io_.stop != nullptr) {
            io_.stop->setIdleStop([this, &platform](int signal) {
                platform->emergencyCleanup();
                console_.line("vcomctl: stopped by " + signalName(signal));
            });
        }
        bringUpAndRun(*platform, log);
        if (io_.stop != nullptr) io_.stop->setIdleStop(nullptr);
        hold_ = std::unique_lock<std::mutex>();
    }

    void bringUpAndRun(PlatformSetup& platform, DriverLog& log)
    {
        std::string error;
        std::unique_ptr<DriverSession> session =
            DriverSession::open(platform.board().i2cBus, &error);
        if (!session) return fail(kExitFailed, error);
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
        if (!init.ok) return fail(kExitFailed, "driver initialization: " + init.error);
        if (options_.session) return runSession(runner, platform);
        for (const Command& command : options_.commands) {
            if (stopped()) return;
            const CommandResult result =
                command.op == Op::Chips ? chipsResult() : runner.run(command);
            reporter_.result(result);
            // A command the stop cut short (a calibration) ends as the stop does.
            if (!result.ok && !stoppedBy(result)) return fail(kExitFailed, result.error);
            if (stopped(&command)) return;
        }
    }

    void runSession(Runner& runner, PlatformSetup& platform)
    {
        bool anyFailed = false;
        bool anyRefused = false;
        std::string line;
        for (unsigned long number = 1;; ++number) {
            // Unlocked while waiting, so that a signal then ends the run at once.
            if (hold_) hold_.unlock();
            const LineRead got = readSessionLine(io_.in, &line);
            if (hold_.mutex() != nullptr) hold_.lock();
            if (got == LineRead::End) break;
            if (stopped()) return;
            const std::string::size_type start = line.find_first_not_of(" \t\r");
            if (got == LineRead::Line && (start == std::string::npos || line[start] == '#'))
                continue;
            ParseOutcome parsed;
            if (got == LineRead::TooLong) {
                parsed.error = "longer than " + std::to_string(kMaxSessionLine) +
                               " bytes, refused: " + quoteText(line);
            } else {
                parsed = parseSessionLine(line);
            }
            std::string refusal = parsed.run ? rangeProblem(parsed.options.commands) : parsed.error;
            if (refusal.empty() && !confirmSaves(parsed.options.commands, platform)) {
                refusal = error_;
                error_.clear();
                exitCode_ = kExitOk;
            }
            if (!refusal.empty()) {
                anyRefused = true;
                const std::string text = "line " + std::to_string(number) + ": " + refusal;
                reporter_.refused(kExitUsage, text);
                if (!options_.json) console_.line("vcomctl: " + text);
                continue;
            }
            for (const Command& command : parsed.options.commands) {
                const CommandResult result =
                    command.op == Op::Chips ? chipsResult() : runner.run(command);
                reporter_.result(result);
                if (stoppedBy(result)) return;
                if (!result.ok) {
                    anyFailed = true;
                    if (!options_.json) console_.line("vcomctl: " + result.error);
                    break;
                }
                if (stopped(&command)) return;
            }
        }
        if (anyFailed)
            exitCode_ = kExitFailed;
        else if (anyRefused)
            exitCode_ = kExitUsage;
    }

    // A stop asked for by a signal; `after` is the command that was let finish.
    bool stopped(const Command* after = nullptr)
    {
        const int signal = io_.stop != nullptr ? io_.stop->requested() : 0;
        if (signal == 0) return false;
        std::string text = "stopped by " + signalName(signal);
        if (after != nullptr) text += " after " + describe(*after) + " completed its sequence";
        fail(kExitSignalBase + signal, text);
        return true;
    }

    // True, with the run ended as stopped, when `result` failed because a stop arrived.
    bool stoppedBy(const CommandResult& result)
    {
        const int signal = io_.stop != nullptr ? io_.stop->requested() : 0;
        if (result.ok || signal == 0) return false;
        fail(kExitSignalBase + signal, "stopped by " + signalName(signal) + ": " + result.error);
        return true;
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
    // the tool cannot trust, a chip the driver does not support and values
    // the chip cannot hold.
    bool boardFits(const PlatformSetup& platform)
    {
        const bool acts = options_.session || std::any_of(options_.commands.begin(),
                                                          options_.commands.end(), touchesChip);
        if (!platform.boardProblem().empty()) {
            if (acts) {
                fail(kExitFailed, platform.boardProblem());
                return false;
            }
            console_.line("vcomctl: warning: " + platform.boardProblem() +
                          "; the driver runs its defaults");
        }
        if (acts && chip_ == nullptr) {
            fail(kExitFailed, std::string("the board's TypeIdx ") +
                                  std::to_string(platform.board().typeIdx) +
                                  " names no chip the driver supports (see vcomctl chips)");
            return false;
        }
        const std::string why = rangeProblem(options_.commands);
        if (!why.empty()) fail(kExitUsage, why);
        return why.empty();
    }

    // An MTP save cannot be taken back: on hardware, a person at a terminal
    // confirms it, as i2cset asks before it writes.
    bool confirmSaves(const std::vector<Command>& commands, const PlatformSetup& platform)
    {
        const bool mtp = chip_ != nullptr && chip_->readShowsStored;
        if (platform.simulated() || !mtp || options_.assumeYes || !io_.interactive) return true;
        for (const Command& command : commands) {
            if (command.op != Op::Save) continue;
            const DriverFields& board = platform.board();
            console_.line("vcomctl: " + describe(command) + " programs the MTP of the " +
                          chip_->name + " at " + deviceText(board.vcomAddr) + " on bus " +
                          std::to_string(board.i2cBus) + ". Continue? [y/N]");
            std::string answer;
            std::getline(io_.in, answer);
            if (answer != "y" && answer != "Y" && answer != "yes") {
                fail(kExitFailed, describe(command) + ": not confirmed; nothing was done");
                return false;
            }
        }
        return true;
    }

    const Options& options_;
    const Io& io_;
    Console console_;
    Reporter reporter_;
    const ChipInfo* chip_ = nullptr;
    int exitCode_ = kExitOk;
    std::string error_;
    std::unique_lock<std::mutex> hold_;
};

std::string signalName(int signal)
{
    return std::string("SIG") + sigabbrev_np(signal);
}

}  // namespace

int runVcomctl(const std::vector<std::string>& args, const Io& io)
{
    if (isPlotCommand(args)) return runPlotCommand(args, io.out, io.err);
    const ParseOutcome parsed = parseCommandLine(args);
    if (!parsed.run) {
        io.out << parsed.out;
        if (!parsed.error.empty()) {
            if (std::find(args.begin(), args.end(), "--json") != args.end()) {
                Options json;
                json.json = true;
                Reporter(io.out, json).finish(parsed.exitCode, parsed.error);
            }
            io.err << "vcomctl: " << parsed.error << "\n";
        }
        return parsed.exitCode;
    }
    return Run(parsed.options, io).execute();
}

}  // namespace vcomctl
