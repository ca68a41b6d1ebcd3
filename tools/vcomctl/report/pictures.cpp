#include "pictures.h"

#include <nlohmann/json.hpp>

#include <ze/vcomcal/report.h>

namespace vcomctl {
namespace {

// The report in `text`: a --json result's first entry, or a --log line (the
// first one, or the panel's latest).
std::string findReport(std::istream& in, const std::string& panel, nlohmann::json* report)
{
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object()) {
            if (!any && json.is_discarded()) return "holds no JSON report";
            continue;
        }
        any = true;
        if (const auto results = json.find("results"); results != json.end()) {
            if (!results->is_array() || results->empty() || !(*results)[0].is_object() ||
                !(*results)[0].contains("data") || !(*results)[0]["data"].is_object()) {
                return "is a vcomctl result without a calibration report";
            }
            json = (*results)[0]["data"];
        }
        const auto id = json.find("panel");
        const bool wanted = panel.empty() || (id != json.end() && *id == panel);
        if (wanted) *report = std::move(json);
        if (wanted && panel.empty()) return "";
    }
    if (!report->is_null()) return "";
    return panel.empty() ? "holds no report" : "holds no report of panel " + panel;
}

}  // namespace

std::string panelPicture(std::istream& in, const std::string& panel, std::string* svg)
{
    nlohmann::json report;
    const std::string why = findReport(in, panel, &report);
    if (why.empty()) *svg = ze::vcomplot::panelSvg(report);
    return why;
}

std::string calibrationLogLine(const ze::vcomcal::CalibrationReport& report)
{
    return ze::vcomcal::logEntry(report).dump(-1, ' ', false,
                                              nlohmann::json::error_handler_t::replace) +
           "\n";
}

std::string calibrationPicture(const ze::vcomcal::CalibrationReport& report)
{
    return ze::vcomplot::panelSvg(ze::vcomcal::logEntry(report));
}

}  // namespace vcomctl
