#include <ze/vcomcal/report.h>

#include <ctime>
#include <iomanip>
#include <optional>
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

template <typename T>
nlohmann::json orNull(const std::optional<T>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json evidence(const PointEvidence& p)
{
    return {
        {"value", p.value}, {"median", p.median}, {"stderr", p.stdError}, {"readings", p.readings}};
}

nlohmann::json confirmation(const std::optional<Confirmation>& c)
{
    if (!c) return nullptr;
    nlohmann::json neighbours = nlohmann::json::array();
    for (const PointEvidence& n : c->neighbours) {
        nlohmann::json entry = evidence(n);
        entry["lower"] = n.lower;
        neighbours.push_back(entry);
    }
    return {{"confidence", c->confidence}, {"best", evidence(c->best)}, {"neighbours", neighbours}};
}

nlohmann::json line(const std::optional<LineSummary>& l)
{
    if (!l) return nullptr;
    return {{"count", l->count},
            {"mean", l->mean},
            {"sigma", l->sigma},
            {"half_life", orNull(l->halfLife)}};
}

}  // namespace

nlohmann::json toJson(const CalibrationReport& report)
{
    nlohmann::json samples = nlohmann::json::array();
    for (const Measurement& m : report.measurements) {
        samples.push_back({{"value", m.value}, {"flicker", m.flicker}, {"readings", m.readings}});
    }
    nlohmann::json raw = nlohmann::json::array();
    for (const RawReading& r : report.raw) {
        raw.push_back({{"value", r.value}, {"reading", r.reading}, {"t_s", r.seconds}});
    }
    nlohmann::json model = nullptr;
    if (!report.modelKind.empty()) {
        model = {{"kind", report.modelKind}, {"curve", nlohmann::json::array()}};
        for (const auto& [x, y] : report.modelCurve) model["curve"].push_back({x, y});
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
        {"reason", report.reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.reason)},
        {"range", {{"lo", report.rangeLo}, {"hi", report.rangeHi}}},
        {"raw", raw},
        {"noise", orNull(report.noise)},
        {"confirmed", report.confirmed},
        {"confirmation", confirmation(report.confirmation)},
        {"at_range_end", report.atRangeEnd},
        {"model", model},
        {"line", line(report.line)},
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
             << report.flicker << (report.confirmed ? ", confirmed" : ", NOT confirmed")
             << ") from " << report.start << "; " << report.updates << " updates, "
             << report.readings << " readings, " << seconds(report.elapsedUs) << " s ("
             << seconds(report.settleUs) << " s settling)\n";
        text << (report.saved ? (report.verified ? "saved and verified\n" : "saved, NOT verified\n")
                              : "not saved\n");
    } else {
        text << report.chip << panel << ": calibration stopped; VCOM set back to " << report.start
             << ", nothing saved\n";
    }
    if (!report.ok) text << "error: " << report.error << "\n";
    return text.str();
}

nlohmann::json logEntry(const CalibrationReport& report)
{
    nlohmann::json entry = toJson(report);
    entry["time"] = utcNow();
    return entry;
}

}  // namespace vcomcal
}  // namespace ze
