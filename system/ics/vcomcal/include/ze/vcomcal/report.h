#pragma once
// A calibration as the line sees it: a summary for the operator, a JSON
// report, and one JSON line per panel appended to a log the MES collects.

#include <string>

#include <nlohmann/json.hpp>

#include <ze/vcomcal/engine.h>

namespace ze {
namespace vcomcal {

nlohmann::json toJson(const CalibrationReport& report);
// A few lines, ending in a newline.
std::string summary(const CalibrationReport& report);
// The report as the line's log keeps it: toJson(report) with the time of day
// (UTC, "YYYY-MM-DDTHH:MM:SSZ") under "time".
nlohmann::json logEntry(const CalibrationReport& report);

}  // namespace vcomcal
}  // namespace ze
