#pragma once
// vcomctl plot and vcomctl line-report: pictures of calibrations, made from
// their reports alone; no driver, no panel.
//
//   vcomctl plot line.jsonl --panel SN123 -o SN123.svg
//   vcomctl line-report line.jsonl -o shift.html

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vcomctl {

// Runs `args` (without the program name) when they name one of these
// commands: the exit status (0, 1 when a file cannot be read or written, 2
// for the command line). nullopt for any other command.
std::optional<int> runPlotCommand(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err);

}  // namespace vcomctl
