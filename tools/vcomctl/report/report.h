#pragma once
// What a run prints on stdout, each result as it completes: text lines, or
// JSON (schema kSchema) written piece by piece so that nothing is kept for
// the end. Every run prints one object with the same top-level keys; a
// session prints one such object per line.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <ze/platform/vcom_board.h>
#include <ze/vcomcal/engine.h>

#include "trace_text.h"

namespace vcomctl {

constexpr int kSchema = 1;
// Exit statuses the report shows: success, and a failed operation.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

using BoardConfig = ze::platform::VcomBoardConfig;

// Init is no command of its own: the driver's init() that precedes them.
enum class Op { Read, Update, Save, Pattern, Config, Chips, Calibrate, Init };
// "read", "update", ...: the command's name alone.
const char* commandWord(Op op);

struct CommandResult {
    std::string name;  // "init", "read", "update 0x80", ...
    Op op = Op::Read;
    bool ok = true;
    std::string error;                     // one line when !ok
    std::optional<int> status;             // init, update, save: the driver's result
    std::optional<unsigned int> value;     // read: the value; update, save: the value sent
    std::optional<unsigned int> readBack;  // a verified save: what was read back
    std::optional<BoardConfig> fields;     // config
    std::vector<TraceEntry> trace;         // with --trace
    std::optional<ze::vcomcal::CalibrationReport> calibration;
};

enum class TraceMode { Off, Timeline, I2ctransfer };

struct ReportStyle {
    bool json = false;
    bool valueOnly = false;  // read prints its number alone
    bool session = false;    // one object per line
    TraceMode trace = TraceMode::Off;
};

// The bring-up's side of the JSON object; all null before or without one.
struct RunContext {
    std::string backend;  // "sim", "linux"
    std::string root;     // empty: a private root
    std::string chip;     // empty: the board names none the driver supports
};

class Reporter {
public:
    Reporter(std::ostream& out, const ReportStyle& style) : out_(out), style_(style) {}

    void setContext(const RunContext& context) { context_ = context; }
    // The driver's init; shown with --trace (text) or in the object (JSON).
    void init(const CommandResult& result);
    void result(const CommandResult& result);
    // A session line that was refused or could not run.
    void refused(int exitCode, const std::string& error);
    // Ends the run's object; in a session, prints one only if none was.
    void finish(int exitCode, const std::string& error);

private:
    void openObject();

    std::ostream& out_;
    const ReportStyle style_;
    RunContext context_;
    std::string initJson_ = "null";
    bool opened_ = false;
    bool first_ = true;
    bool printed_ = false;
};

}  // namespace vcomctl
