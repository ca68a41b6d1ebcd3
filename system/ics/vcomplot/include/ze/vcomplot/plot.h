#pragma once
// Pictures of calibrations as a line engineer reads them: one panel's flicker
// curve as an SVG, and a station's shift as one self-contained HTML page over
// the per-panel log (inline SVG and CSS; nothing fetched, no script).
//
// Input comes from outside (panel ids, meter error texts, chip names): every
// piece of it is escaped, and a report missing a key is drawn without it.

#include <cstddef>
#include <istream>
#include <map>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ze {
namespace vcomplot {

struct PanelPlotStyle {
    std::string idPrefix;  // keeps element ids unique when several plots share a page
    int width = 640;
    int height = 400;
};

// One calibration report: the calibration library's JSON, or a --log line.
std::string panelSvg(const nlohmann::json& report, const PanelPlotStyle& style = {});

struct LineReportOptions {
    std::string title = "VCOM calibration: line report";
    // Per chip: the slowest panels drawn in full, and as many unconfirmed ones.
    std::size_t detailPanels = 2;
};

struct LineReportCounts {
    unsigned long panels = 0;
    unsigned long skipped = 0;
    std::map<std::string, unsigned long> skippedBy;  // "not JSON", "missing key", ...
};

// A shift's --log lines, one JSON object per line. Lines that are no report
// are counted on the page and in *counts, never a reason to stop.
std::string lineReportHtml(std::istream& jsonl, const LineReportOptions& options = {},
                           LineReportCounts* counts = nullptr);

// For text and attribute values alike.
std::string escapeXml(std::string_view text);

}  // namespace vcomplot
}  // namespace ze
