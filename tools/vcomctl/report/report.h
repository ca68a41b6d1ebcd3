#pragma once
// What a run prints on stdout, each result as it completes: text lines, or
// JSON (schema kSchema) written piece by piece so that nothing is kept for
// the end. Every run prints one object with the same top-level keys; a
// session prints one such object per line.

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <ze/platform/trace.h>
#include <ze/platform/vcom_board.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomplot/plot.h>

#include <nlohmann/json.hpp>

namespace vcomctl {

// The bus traffic of an operation as text: a timeline on the monotonic clock
// (lines up with ftrace and logic-analyser captures), i2ctransfer command
// lines to replay by hand, or JSON.
using TraceEntry = ze::platform::TraceEntry;

// "0x74 [0xE8]": the 7-bit address as i2c-tools and the kernel name it, the
// 8-bit form of the board file in brackets.
std::string deviceText(unsigned int addr8);
// "I2C write to 0x74 [0xE8] reg 0x01 on bus 1", "GPIO 168 set to 1"
std::string describeCall(const TraceEntry& entry);
// A line per entry: the timeline's
//   "     5.001000  W  bus 1  0x74 [0xE8]  reg 0x01  data 34       ok"
// or, `asI2ctransfer`, "i2ctransfer -y 1 w2@0x74 0x01 0x34" with calls that
// are no I2C transfer as shell comments, so that the lines paste as they are.
std::string traceText(const std::vector<TraceEntry>& entries, bool asI2ctransfer);
nlohmann::ordered_json traceJson(const std::vector<TraceEntry>& entries);

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

// Pictures and log lines of calibrations, made from their reports alone.

// The SVG of one report in `in`: a --json result's first entry, or a --log
// line (the first one, or the latest of `panel`). "" with *svg set, or why
// `in` holds none, to follow its file name.
std::string panelPicture(std::istream& in, const std::string& panel, std::string* svg);

// The log's JSON line for one panel, '\n' included.
std::string calibrationLogLine(const ze::vcomcal::CalibrationReport& report);
// The panel's curve, whatever the calibration's outcome.
std::string calibrationPicture(const ze::vcomcal::CalibrationReport& report);

}  // namespace vcomctl
