#pragma once
// What a run prints on stdout, each result as it completes: text lines, or
// JSON (schema kSchema) written piece by piece so that nothing is kept for
// the end. Every run prints one object with the same top-level keys; a
// session prints one such object per line.

#include <optional>
#include <ostream>
#include <string>

#include "command_line.h"
#include "runner.h"

namespace vcomctl {

constexpr int kSchema = 1;

// The bring-up's side of the JSON object; all null before or without one.
struct RunContext {
    std::string backend;  // "sim", "linux"
    std::string root;     // empty: a private root
    std::string chip;     // empty: the board names none the driver supports
};

class Reporter {
public:
    Reporter(std::ostream& out, const Options& options) : out_(out), options_(options) {}

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
    std::string header() const;
    std::string footer(int exitCode, const std::string& error) const;

    std::ostream& out_;
    const Options& options_;
    RunContext context_;
    std::string initJson_ = "null";
    bool opened_ = false;
    bool first_ = true;
    bool printed_ = false;
};

std::string chipsTable();
// The text of one result, each line ending in '\n'. A failed command shows
// only its trace (its reason goes to stderr).
std::string plainResult(const CommandResult& result, const Options& options);

}  // namespace vcomctl
