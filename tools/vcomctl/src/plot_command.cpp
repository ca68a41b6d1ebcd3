#include "command_line.h"

#include <fstream>

#include <CLI/CLI.hpp>

#include "new_file.h"
#include "report.h"

namespace vcomctl {
namespace {

constexpr const char* kPlot = "plot";
constexpr const char* kLineReport = "line-report";

int failed(std::ostream& err, const std::string& command, const std::string& why)
{
    err << "vcomctl: " << command << ": " << why << "\n";
    return kExitFailed;
}

}  // namespace

std::optional<int> runPlotCommand(const std::vector<std::string>& args, std::ostream& out,
                                  std::ostream& err)
{
    if (args.empty() || (args.front() != kPlot && args.front() != kLineReport)) return std::nullopt;
    const std::string command = args.front();
    const bool plot = command == kPlot;
    CLI::App app(plot ? "Draws one calibration report as an SVG: every reading against the "
                        "code, the median per code, the model, the start and the chosen code."
                      : "Draws a station's per-panel log (calibrate --log) as one "
                        "self-contained HTML page, one printed A4 page per chip.",
                 "vcomctl " + command);
    std::string input, output, panel, title;
    app.add_option(plot ? "REPORT" : "LOG", input,
                   plot ? "a calibrate --log file or a calibrate --json result"
                        : "the JSON lines calibrate --log appended")
        ->required();
    app.add_option("-o,--output", output, "the file to write (replaced whole); - for stdout")
        ->required();
    if (plot) app.add_option("--panel", panel, "the log's latest report of this panel id");
    if (!plot) app.add_option("--title", title, "the page's title");
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend() - 1));
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        err << "vcomctl: " << command << ": " << e.what() << "\n";
        return kExitUsage;
    }
    std::ifstream in(input);
    if (!in) return failed(err, command, systemError("cannot read", input));
    std::string content, error;
    if (plot) {
        const std::string why = panelPicture(in, panel, &content);
        if (!why.empty()) return failed(err, command, input + " " + why);
    } else {
        ze::vcomplot::LineReportOptions options;
        if (!title.empty()) options.title = title;
        ze::vcomplot::LineReportCounts counts;
        content = ze::vcomplot::lineReportHtml(in, options, &counts);
        if (in.bad()) return failed(err, command, systemError("cannot read", input));
        if (counts.skipped > 0) {
            err << "vcomctl: " << command << ": " << counts.skipped << " of "
                << counts.skipped + counts.panels << " lines of " << input
                << " are no report and were skipped (counted on the page)\n";
        }
    }
    // "-" is stdout; a file is replaced whole, never written through a symlink.
    const FileCommit file = output == "-" ? nullptr : newFile(output, &error);
    if (output == "-" ? !(out << content << std::flush) : !file || !file(content, &error))
        return failed(err, command, error);
    return kExitOk;
}

}  // namespace vcomctl
