#include <ze/vcomcal/report.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace ze {
namespace vcomcal {
namespace {

constexpr double kUsPerSecond = 1e6;

double seconds(std::uint64_t us)
{
    return us / kUsPerSecond;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::ostringstream text;
    text << std::put_time(&utc, "%Y-%m-%dT%H:%M:%SZ");
    return text.str();
}

}  // namespace

nlohmann::json toJson(const CalibrationReport& report)
{
    nlohmann::json samples = nlohmann::json::array();
    for (const Measurement& m : report.measurements) {
        samples.push_back({{"value", m.value}, {"flicker", m.flicker}, {"readings", m.readings}});
    }
    nlohmann::json json = {
        {"chip", report.chip},
        {"ok", report.ok},
        {"start", report.start},
        {"best", report.best},
        {"flicker", report.flicker},
        {"samples", samples},
        {"readings", report.readings},
        {"updates", report.updates},
        {"elapsed_s", seconds(report.elapsedUs)},
        {"settle_s", seconds(report.settleUs)},
        {"wall_s", seconds(report.wallUs)},
        {"saved", report.saved},
        {"verified", report.verified},
        {"restored", report.restored},
    };
    if (!report.panelId.empty()) json["panel"] = report.panelId;
    if (!report.ok) json["error"] = report.error;
    return json;
}

std::string summary(const CalibrationReport& report)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(3);
    const std::string panel = report.panelId.empty() ? "" : " panel " + report.panelId;
    if (!report.restored) {
        text << report.chip << panel << ": best VCOM " << report.best << " (flicker "
             << report.flicker << ") from " << report.start << "; " << report.updates
             << " updates, " << report.readings << " readings, " << seconds(report.elapsedUs)
             << " s (" << seconds(report.settleUs) << " s settling)\n";
        text << (report.saved ? (report.verified ? "saved and verified\n" : "saved, NOT verified\n")
                              : "not saved\n");
    } else {
        text << report.chip << panel << ": calibration stopped; VCOM set back to " << report.start
             << ", nothing saved\n";
    }
    if (!report.ok) text << "error: " << report.error << "\n";
    return text.str();
}

bool appendToLog(const std::string& path, const CalibrationReport& report, std::string* error)
{
    nlohmann::json line = toJson(report);
    line["time"] = utcNow();
    std::ofstream out(path, std::ios::app);
    out << line.dump() << "\n";
    out.flush();
    if (!out) {
        *error = "cannot append to the log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace vcomcal
}  // namespace ze
