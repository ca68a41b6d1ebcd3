// One panel's calibration: every reading and the median per code against the
// code, the curve the search believed, the start and the chosen code.

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include <ze/vcomplot/plot.h>

#include "svg.h"

namespace ze {
namespace vcomplot {
namespace {

constexpr double kMarginLeft = 56, kMarginRight = 16, kMarginBottom = 62;
constexpr double kTitleLine = 16;
constexpr double kLegendRow = 20;
constexpr double kXPadShare = 0.08;  // room beside the outermost code, of the span
constexpr double kMinXPad = 2;       // codes
constexpr double kYHeadroom = 1.08;
constexpr double kReadingRadius = 2.2, kMedianRadius = 3.5, kChosenSize = 7;
constexpr double kErrorBarSigmas = 2;  // confirmation medians drawn +- this many standard errors
constexpr double kRangeStripGap = 44, kRangeStripHeight = 5;
constexpr std::size_t kMaxReadingsDrawn = 2000;

const char* const kReadingStyle = "fill=\"#7a869a\" fill-opacity=\"0.55\"";
const char* const kConfirmStyle = "fill=\"#d62728\" fill-opacity=\"0.7\"";
const char* const kMedianStyle = "fill=\"#1f4e9c\"";
const char* const kModelStyle = "stroke=\"#f28e2b\" stroke-width=\"2\" stroke-dasharray=\"6 3\"";
const char* const kChosenColour = "#d62728";

struct Point {
    double value, reading;
};

std::vector<Point> pairsFrom(const nlohmann::json& list, const char* valueKey,
                             const char* readingKey)
{
    std::vector<Point> points;
    if (!list.is_array()) return points;
    for (const nlohmann::json& item : list) {
        const auto v = numberAt(item, valueKey), r = numberAt(item, readingKey);
        if (v && r) points.push_back({*v, *r});
    }
    return points;
}

std::vector<Point> modelCurve(const nlohmann::json& report)
{
    std::vector<Point> points;
    const auto model = report.find("model");
    if (model == report.end() || !model->is_object()) return points;
    const auto curve = model->find("curve");
    if (curve == model->end() || !curve->is_array()) return points;
    for (const nlohmann::json& pair : *curve) {
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number() || !pair[1].is_number())
            continue;
        const double v = pair[0].get<double>(), r = pair[1].get<double>();
        if (std::isfinite(v) && std::isfinite(r)) points.push_back({v, r});
    }
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.value < b.value; });
    return points;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<Point> mediansOf(const std::vector<Point>& readings)
{
    std::map<double, std::vector<double>> byValue;
    for (const Point& p : readings) byValue[p.value].push_back(p.reading);
    std::vector<Point> medians;
    for (const auto& [value, list] : byValue) medians.push_back({value, median(list)});
    return medians;
}

std::string resultText(const nlohmann::json& report)
{
    const auto ok = report.find("ok");
    if (ok == report.end() || !ok->is_boolean()) return "result unknown";
    const std::string reason = textAt(report, "reason");
    if (!ok->get<bool>()) return "FAILED" + (reason.empty() ? "" : " (" + reason + ")");
    std::string text =
        flagAt(report, "saved")
            ? (flagAt(report, "verified") ? "saved, verified" : "saved, NOT verified")
            : "ok, not saved";
    const auto confirmed = report.find("confirmed");
    if (confirmed != report.end() && confirmed->is_boolean() && !confirmed->get<bool>())
        text += ", unconfirmed";
    return text;
}

std::string countText(const nlohmann::json& report, const char* key, const char* unit)
{
    const auto v = numberAt(report, key);
    return v ? num(*v, 0) + " " + unit : "? " + std::string(unit);
}

struct ConfirmedPoint {
    double value, median, stderr;
};

std::vector<ConfirmedPoint> confirmationPoints(const nlohmann::json& report)
{
    std::vector<ConfirmedPoint> points;
    const auto c = report.find("confirmation");
    if (c == report.end() || !c->is_object()) return points;
    const auto add = [&points](const nlohmann::json& item) {
        const auto v = numberAt(item, "value"), m = numberAt(item, "median");
        if (v && m) points.push_back({*v, *m, numberAt(item, "stderr").value_or(0)});
    };
    if (const auto best = c->find("best"); best != c->end()) add(*best);
    if (const auto n = c->find("neighbours"); n != c->end() && n->is_array()) {
        for (const nlohmann::json& item : *n) add(item);
    }
    return points;
}

}  // namespace

std::string panelSvg(const nlohmann::json& input, const PanelPlotStyle& style)
{
    static const nlohmann::json kEmpty = nlohmann::json::object();
    const nlohmann::json& report = input.is_object() ? input : kEmpty;

    // Without the raw readings, the medians the search kept are all there is.
    std::vector<Point> readings;
    if (const auto raw = report.find("raw"); raw != report.end() && raw->is_array())
        readings = pairsFrom(*raw, "value", "reading");
    const bool haveRaw = !readings.empty();
    std::vector<Point> medians;
    if (const auto samples = report.find("samples"); samples != report.end())
        medians = pairsFrom(*samples, "value", "flicker");
    if (medians.empty()) medians = mediansOf(readings);
    const std::vector<Point> model = modelCurve(report);
    const std::vector<ConfirmedPoint> confirmation = confirmationPoints(report);
    const auto best = numberAt(report, "best");
    const auto start = numberAt(report, "start");
    const bool ok = flagAt(report, "ok");
    std::optional<double> rangeLo, rangeHi;
    if (const auto range = report.find("range"); range != report.end()) {
        rangeLo = numberAt(*range, "lo");
        rangeHi = numberAt(*range, "hi");
    }
    // A failed run has a value to show only when its search came to one: the
    // minimum went unconfirmed, or its save failed. A meter or update failure
    // cut the search short and its "best" means nothing.
    const auto reason = report.find("reason");
    const bool searchEnded = reason == report.end() || !reason->is_string() ||
                             *reason == "unconfirmed" || *reason == "save" || *reason == "verify";
    const bool chosen = best && (ok || (searchEnded && !medians.empty()));

    double x0 = INFINITY, x1 = -INFINITY, y1 = 0, y0 = 0;
    const auto takeX = [&](double v) {
        x0 = std::min(x0, v);
        x1 = std::max(x1, v);
    };
    for (const Point& p : haveRaw ? readings : medians) {
        takeX(p.value);
        y0 = std::min(y0, p.reading);
        y1 = std::max(y1, p.reading);
    }
    for (const Point& p : medians) takeX(p.value);
    if (start) takeX(*start);
    if (chosen) takeX(*best);
    if (!(x1 >= x0)) {
        x0 = rangeLo.value_or(0);
        x1 = rangeHi.value_or(x0 + 1);
    }
    const double pad = std::max(kMinXPad, (x1 - x0) * kXPadShare);
    x0 -= pad;
    x1 += pad;
    for (const Point& p : model) {
        if (p.value >= x0 && p.value <= x1) y1 = std::max(y1, p.reading);
    }
    for (const ConfirmedPoint& p : confirmation) y1 = std::max(y1, p.median + 2 * p.stderr);
    y1 = y1 > y0 ? y1 * kYHeadroom : y0 + 1;
    niceDomain(y0, y1);

    const std::string error = ok ? "" : textAt(report, "error");
    const double titleHeight = kTitleLine * (error.empty() ? 2 : 3) + 6;
    const double top = titleHeight + kLegendRow;
    Chart chart(style.width, style.height, kMarginLeft, top, kMarginRight, kMarginBottom, x0, x1,
                y0, y1);
    Svg svg(style.width, style.height, "panel-plot");

    // Title: who, what came out, what it cost.
    const std::string panel = textAt(report, "panel");
    const std::string chip = textAt(report, "chip");
    std::string head = (panel.empty() ? "Panel (no id)" : "Panel " + panel) + " · " +
                       (chip.empty() ? "chip ?" : chip) + " · " + resultText(report);
    std::string facts =
        countText(report, "updates", "updates") + " · " + countText(report, "readings", "readings");
    if (const auto elapsed = numberAt(report, "elapsed_s"))
        facts += " · " + num(*elapsed, 2) + " s";
    if (const std::string time = textAt(report, "time"); !time.empty()) facts += " · " + time;
    svg.text(kMarginLeft, kTitleLine, head,
             std::string("class=\"title\" font-weight=\"bold\" font-size=\"13\"") +
                 (ok ? "" : " fill=\"#b00\""));
    svg.text(kMarginLeft, 2 * kTitleLine, facts, "class=\"facts\"");
    if (!error.empty())
        svg.text(kMarginLeft, 3 * kTitleLine, error, "class=\"error\" fill=\"#b00\"");

    // Legend, one row under the title.
    double lx = kMarginLeft;
    const double ly = titleHeight + kLegendRow / 2;
    const auto legend = [&](const std::string& mark, const std::string& label) {
        svg.raw(mark);
        svg.text(lx + 10, ly + 4, label, "");
        lx += 16 + 6.5 * label.size();
    };
    if (haveRaw) {
        legend("<circle cx=\"" + num(lx + 2) + "\" cy=\"" + num(ly) + "\" r=\"2.5\" " +
                   kReadingStyle + "/>",
               "reading");
    }
    legend("<circle cx=\"" + num(lx + 2) + "\" cy=\"" + num(ly) + "\" r=\"3.5\" " + kMedianStyle +
               "/>",
           haveRaw ? "median per code" : "median per code (no raw readings)");
    if (!model.empty()) {
        legend("<line x1=\"" + num(lx - 6) + "\" y1=\"" + num(ly) + "\" x2=\"" + num(lx + 6) +
                   "\" y2=\"" + num(ly) + "\" " + kModelStyle + "/>",
               "model (" + textAt(report.at("model"), "kind") + ")");
    }
    if (chosen) {
        legend("<rect x=\"" + num(lx - 2) + "\" y=\"" + num(ly - 4) +
                   "\" width=\"8\" height=\"8\" fill=\"" + kChosenColour +
                   "\" transform=\"rotate(45 " + num(lx + 2) + " " + num(ly) + ")\"/>",
               ok ? "chosen, with its readings" : "best estimate (not saved)");
    }

    chart.axes(svg, "VCOM code", "meter reading");
    const std::string clip = style.idPrefix + "plot-area";
    svg.raw("<clipPath id=\"" + clip + "\"><rect x=\"" + num(chart.left) + "\" y=\"" +
            num(chart.top) + "\" width=\"" + num(chart.width) + "\" height=\"" + num(chart.height) +
            "\"/></clipPath>\n<g clip-path=\"url(#" + clip + ")\">\n");

    // The chip's range where it enters the view: outside is shaded.
    if (rangeLo && *rangeLo > x0) {
        svg.rect(chart.left, chart.top, chart.x(*rangeLo) - chart.left, chart.height,
                 "fill=\"#ddd\" fill-opacity=\"0.6\"");
    }
    if (rangeHi && *rangeHi < x1) {
        svg.rect(chart.x(*rangeHi), chart.top, chart.right() - chart.x(*rangeHi), chart.height,
                 "fill=\"#ddd\" fill-opacity=\"0.6\"");
    }
    if (start) {
        const double sx = chart.x(*start);
        svg.line(sx, chart.top, sx, chart.bottom(),
                 "class=\"start\" stroke=\"#555\" stroke-dasharray=\"2 3\"");
        svg.text(sx + 3, chart.bottom() - 4, "start " + num(*start, 0), "fill=\"#555\"");
    }
    if (model.size() >= 2) {
        std::vector<std::pair<double, double>> line;
        for (const Point& p : model) line.push_back({chart.x(p.value), chart.y(p.reading)});
        svg.polyline(line, std::string("class=\"model\" ") + kModelStyle);
    }
    const std::size_t step = readings.size() / kMaxReadingsDrawn + 1;
    for (std::size_t i = 0; haveRaw && i < readings.size(); i += step) {
        const Point& p = readings[i];
        const bool atChosen = chosen && haveRaw && p.value == *best;
        svg.circle(chart.x(p.value), chart.y(p.reading), kReadingRadius,
                   std::string("class=\"reading\" ") + (atChosen ? kConfirmStyle : kReadingStyle));
    }
    {
        for (const Point& p : medians) {
            svg.circle(chart.x(p.value), chart.y(p.reading), kMedianRadius,
                       std::string("class=\"median\" ") + kMedianStyle);
        }
    }
    for (const ConfirmedPoint& p : confirmation) {
        const double cx = chart.x(p.value);
        svg.line(cx, chart.y(p.median - kErrorBarSigmas * p.stderr), cx,
                 chart.y(p.median + kErrorBarSigmas * p.stderr),
                 "class=\"confirm\" stroke=\"#1f4e9c\" stroke-width=\"1.5\"");
    }
    svg.raw("</g>\n");

    if (chosen) {
        const double cx = chart.x(*best);
        double at = numberAt(report, "flicker").value_or(NAN);
        for (const Point& p : medians) {
            if (p.value == *best) at = p.reading;
        }
        const double cy = std::isfinite(at) ? chart.y(at) : chart.bottom();
        svg.line(cx, chart.top, cx, chart.bottom(),
                 std::string("stroke=\"") + kChosenColour + "\" stroke-width=\"1\"");
        svg.rect(cx - kChosenSize / 2, cy - kChosenSize / 2, kChosenSize, kChosenSize,
                 "id=\"" + style.idPrefix + "chosen\" class=\"chosen\" fill=\"" +
                     (ok ? kChosenColour : "#fff") + "\" stroke=\"" + kChosenColour +
                     "\" stroke-width=\"2\" transform=\"rotate(45 " + num(cx) + " " + num(cy) +
                     ")\"");
        // Inside the frame, on the side with more room.
        const bool right = cx < chart.left + chart.width / 2;
        svg.text(cx + (right ? 4 : -4), chart.top + 12,
                 (ok ? "chosen " : "estimate ") + num(*best, 0),
                 std::string("text-anchor=\"") + (right ? "start" : "end") +
                     "\" font-weight=\"bold\" fill=\"" + kChosenColour + "\"");
    }

    // Where the view sits in the chip's range.
    if (rangeLo && rangeHi && *rangeHi > *rangeLo) {
        const Scale whole{*rangeLo, *rangeHi, chart.left, chart.right()};
        const double sy = chart.bottom() + kRangeStripGap;
        svg.rect(chart.left, sy, chart.width, kRangeStripHeight, "fill=\"#ddd\"");
        const double v0 = std::max(x0, *rangeLo), v1 = std::min(x1, *rangeHi);
        if (v1 > v0) {
            svg.rect(whole(v0), sy, std::max(1.0, whole(v1) - whole(v0)), kRangeStripHeight,
                     "fill=\"#7a869a\"");
        }
        if (chosen)
            svg.rect(whole(*best) - 1, sy - 2, 2, kRangeStripHeight + 4, "fill=\"#d62728\"");
        svg.text(chart.left, sy + kRangeStripHeight + 11,
                 "chip range " + num(*rangeLo, 0) + "–" + num(*rangeHi, 0), "fill=\"#555\"");
    }
    return svg.finish();
}

}  // namespace vcomplot
}  // namespace ze
