#pragma once
// vcomctl plot and vcomctl line-report: pictures of calibrations, made from
// their reports alone; no driver, no panel.
//
//   vcomctl plot line.jsonl --panel SN123 -o SN123.svg
//   vcomctl line-report line.jsonl -o shift.html

#include <ostream>
#include <string>
#include <vector>

namespace vcomctl {

// True when `args` (without the program name) asks for one of these commands.
bool isPlotCommand(const std::vector<std::string>& args);
// Runs it: the exit status (0, 1 when a file cannot be read or written, 2 for
// the command line).
int runPlotCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Writes `content` to `path` through a temporary file beside it, renamed over
// it; refuses a symlink at `path`. "-" is stdout. False with *error.
bool writeOutput(const std::string& path, const std::string& content, std::ostream& out,
                 std::string* error);

}  // namespace vcomctl
