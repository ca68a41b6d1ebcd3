#pragma once
// What a run prints: each command's result as text lines as it completes, or
// one JSON object for the whole run.

#include <optional>
#include <string>
#include <vector>

#include "platform_setup.h"
#include "runner.h"

namespace vcomctl {

struct RunReport {
    bool ok = true;
    int exitCode = kExitOk;
    std::string error;    // one line when !ok
    std::string backend;  // "sim", "linux"; empty without a bring-up
    std::string root;     // empty for a temporary root or without a bring-up
    std::optional<DriverFields> board;
    std::optional<CommandResult> init;
    std::vector<CommandResult> results;
};

// The text of one result, each line ending in '\n'. A failed command shows
// only with its trace (its reason goes to stderr).
std::string plainResult(const CommandResult& result);
std::string chipsTable();
std::string jsonReport(const RunReport& report);

}  // namespace vcomctl
