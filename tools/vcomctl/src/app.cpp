#include "app.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <ze/platform/paths.h>

#include "chips.h"
#include "command_line.h"
#include "console.h"
#include "driver_log.h"
#include "platform_setup.h"
#include "report.h"
#include "runner.h"
#include "session.h"

namespace vcomctl {
namespace {

CommandResult chipsResult()
{
    CommandResult result;
    result.name = "chips";
    result.op = Op::Chips;
    return result;
}

bool touchesChip(const Command& command)
{
    return command.op == Op::Read || command.op == Op::Update || command.op == Op::Save;
}

class Run {
public:
    Run(const Options& options, const Io& io)
        : options_(options), io_(io), console_(io.err, io.terminal)
    {
    }

    int execute()
    {
        if (std::any_of(options_.commands.begin(), options_.commands.end(), needsDriver)) {
            DriverLog log(options_.verbose,
                          [this](const std::string& line) { console_.line(line); });
            withPlatform(log);
        } else {
            for (std::size_t i = 0; i < options_.commands.size(); ++i) show(chipsResult());
        }
        if (options_.json) io_.out << jsonReport(report_);
        if (!report_.ok) console_.line("vcomctl: " + report_.error);
        return report_.exitCode;
    }

private:
    void fail(int exitCode, const std::string& reason)
    {
        report_.ok = false;
        report_.exitCode = exitCode;
        report_.error = reason;
    }

    void show(const CommandResult& result)
    {
        report_.results.push_back(result);
        if (!options_.json) {
            io_.out << plainResult(result);
            io_.out.flush();
        }
    }

    void withPlatform(DriverLog& log)
    {
        std::string error;
        std::unique_ptr<PlatformSetup> platform = PlatformSetup::prepare(options_, log, &error);
        if (!platform) return fail(kExitFailed, error);
        if (!platform->notice().empty()) console_.line("vcomctl: " + platform->notice());
        report_.backend = platform->backend().name();
        if (!platform->temporaryRoot()) report_.root = platform->root();
        report_.board = platform->board();

        if (!commandsFit(platform->board())) return;

        std::unique_ptr<DriverSession> session =
            DriverSession::open(platform->board().i2cBus, &error);
        if (!session) return fail(kExitFailed, error);

        std::optional<TraceTap> tap;
        if (options_.trace) tap = TraceTap::forBackend(platform->backend(), io_.clock);
        Runner::Hooks hooks;
        hooks.begin = [this](const std::string& name) { console_.beginActivity(name); };
        hooks.end = [this] { console_.endActivity(); };
        Runner runner(session->vcom(), session->driver(), log, tap ? &*tap : nullptr, hooks);

        report_.init = runner.init();
        if (options_.trace && !options_.json) io_.out << plainResult(*report_.init);
        if (!report_.init->ok) return fail(kExitFailed, report_.init->error);

        for (const Command& command : options_.commands) {
            show(command.op == Op::Chips ? chipsResult() : runner.run(command));
            if (!report_.results.back().ok) return fail(kExitFailed, report_.results.back().error);
        }
    }

    // Refuses, before anything reaches the chip, a chip the driver does not
    // support and values the chip cannot hold.
    bool commandsFit(const DriverFields& board)
    {
        const ChipInfo* chip = chipByTypeIdx(board.typeIdx);
        for (const Command& command : options_.commands) {
            if (!touchesChip(command)) continue;
            if (chip == nullptr) {
                fail(kExitFailed, ze::platform::resolvePath(kBoardFile) + ": TypeIdx " +
                                      std::to_string(board.typeIdx) +
                                      " names no chip the driver supports (see vcomctl chips)");
                return false;
            }
            const std::string why = checkRange(command, *chip);
            if (!why.empty()) {
                fail(kExitUsage, why);
                return false;
            }
        }
        return true;
    }

    const Options& options_;
    const Io& io_;
    Console console_;
    RunReport report_;
};

}  // namespace

int runVcomctl(const std::vector<std::string>& args, const Io& io)
{
    const ParseOutcome parsed = parseCommandLine(args);
    if (!parsed.run) {
        io.out << parsed.out;
        if (!parsed.error.empty()) io.err << "vcomctl: " << parsed.error << "\n";
        return parsed.exitCode;
    }
    return Run(parsed.options, io).execute();
}

}  // namespace vcomctl
