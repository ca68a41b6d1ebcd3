// A station's shift on one page per chip: yield and failures by reason, the
// chosen codes, their drift against the line's statistics, the cost per
// panel, the meter's noise, and the slowest and unconfirmed panels in full.
//
// A log may hold 100,000 panels: everything over time is drawn per time
// bucket once there are more points than a printed chart can show apart.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include <ze/vcomplot/plot.h>

#include "svg.h"

namespace ze {
namespace vcomplot {
namespace {

using Json = nlohmann::json;

constexpr int kChartWidth = 360, kChartHeight = 180;
constexpr double kChartLeft = 50, kChartTop = 10, kChartRight = 12, kChartBottom = 38;
constexpr std::size_t kMaxBars = 60;
constexpr std::size_t kMaxHeatCells = 30;  // per axis
constexpr std::size_t kTimeBuckets = 120;
constexpr std::size_t kMaxPoints = 600;  // per chart, drawn one by one up to this
constexpr double kBandSigmas = 3;
constexpr double kPointRadius = 2;
constexpr std::size_t kListedPanels = 5;
constexpr std::size_t kListedSkippedLines = 5;
constexpr std::size_t kMaxMessage = 120;
constexpr int kDetailWidth = 560, kDetailHeight = 340;
constexpr double kPercent = 100;
constexpr double kLow = 0.1, kHigh = 0.9;  // the whiskers' quantiles
constexpr double kSecondsPerDay = 86400;
// Statistics of fewer panels than seed a search are no band to draw.
constexpr double kMinLinePanels = 2;
constexpr double kNoiseHeadroom = 1.15;

const char* const kCss =
    R"(body{font:12px "DejaVu Sans",sans-serif;color:#222;max-width:780px;margin:0 auto;padding:8px}
h1{font-size:18px;margin:4px 0}h2{font-size:15px;margin:8px 0 4px;border-bottom:2px solid #1f4e9c}
h3{font-size:12px;margin:4px 0 2px}p{margin:2px 0}
#yield{font-size:16px}.bad{color:#b00}.note{color:#777}
table{border-collapse:collapse}td,th{padding:1px 6px;text-align:left;border-bottom:1px solid #ddd}
td.n{text-align:right}ol{margin:0;padding-left:20px}
.row,.grid{display:grid;grid-template-columns:1fr 1fr;gap:4px 10px}
figure{margin:0}figcaption{font-size:11px;color:#555}svg{display:block;max-width:100%;height:auto}
@page{size:A4;margin:8mm}
@media print{body{max-width:none;padding:0}.screen-only{display:none}
.chip{height:262mm;overflow:hidden;break-inside:avoid}.chip+.chip{break-before:page}}
)";

struct Panel {
    double t = 0;
    bool ok = false;
    std::string reason;
    std::string error;
    std::optional<double> best, lineMean, lineSigma, noise, updates, readings, elapsed;
    bool unconfirmed = false;
    std::string id;
    unsigned long lineNo = 0;
};

// A panel kept whole, to be drawn.
struct Detail {
    double elapsed;
    unsigned long lineNo;
    std::string text;
};

struct ChipLog {
    std::vector<Panel> panels;
    std::vector<Detail> slowest;  // longest first
    std::deque<Detail> unconfirmed;
    unsigned long unconfirmedCount = 0;
};

struct Skipped {
    unsigned long count = 0;
    std::vector<unsigned long> lines;
};

// Where the JSON string starting at `at` (on its quote) ends, after the quote.
std::size_t stringEnd(const std::string& text, std::size_t at)
{
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (text[at] == '"') {
            return at + 1;
        }
    }
    return at;
}

// `line` with the arrays and objects of its top-level bulky keys (the per-reading
// data) replaced by null: a quick scan instead of a full parse of what the
// aggregates never read.
std::string withoutBulky(const std::string& line)
{
    static const char* const kBulky[] = {"\"raw\"", "\"samples\"", "\"model\"", "\"confirmation\""};
    std::string out;
    std::size_t copied = 0, at = 0;
    int depth = 0;
    bool keyNext = false;
    while (at < line.size()) {
        const char c = line[at];
        if (c == '"') {
            const std::size_t end = stringEnd(line, at);
            const bool bulky =
                depth == 1 && keyNext &&
                std::any_of(std::begin(kBulky), std::end(kBulky),
                            [&](const char* k) { return line.compare(at, end - at, k) == 0; });
            keyNext = false;
            at = end;
            const std::size_t value = line.find_first_not_of(" \t:", at);
            if (!bulky || value == std::string::npos || (line[value] != '[' && line[value] != '{'))
                continue;
            std::size_t skip = value;
            for (int nested = 0; skip < line.size();) {
                const char v = line[skip];
                if (v == '"') {
                    skip = stringEnd(line, skip);
                    continue;
                }
                nested += (v == '[' || v == '{') - (v == ']' || v == '}');
                ++skip;
                if (nested == 0) break;
            }
            out.append(line, copied, value - copied).append("null");
            copied = at = skip;
            continue;
        }
        depth += (c == '[' || c == '{') - (c == ']' || c == '}');
        if (c == '{' || c == ',') keyNext = true;
        ++at;
    }
    return copied == 0 ? line : out.append(line, copied, std::string::npos);
}

// A report's top-level values and its "line" object, without building the
// per-reading arrays the aggregates never look at. Other arrays and objects
// stay as empty placeholders, so that a type check still sees them.
class ReportFields : public nlohmann::json_sax<Json> {
public:
    Json take() { return std::move(fields_); }

    bool null() override { return put(nullptr); }
    bool boolean(bool v) override { return put(v); }
    bool number_integer(number_integer_t v) override { return put(v); }
    bool number_unsigned(number_unsigned_t v) override { return put(v); }
    bool number_float(number_float_t v, const string_t&) override { return put(v); }
    bool string(string_t& v) override { return put(v); }
    bool binary(binary_t&) override { return put(nullptr); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override
    {
        (depth_ == 1 ? key_ : lineKey_) = k;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    bool put(Json v)
    {
        if (depth_ == 0) fields_ = std::move(v);
        if (depth_ == 1 && fields_.is_object()) fields_[key_] = std::move(v);
        if (depth_ == 2 && inLine_) fields_[kLineKey][lineKey_] = std::move(v);
        return true;
    }
    bool open(Json empty)
    {
        if (depth_ == 1) inLine_ = fields_.is_object() && key_ == kLineKey && empty.is_object();
        put(std::move(empty));
        ++depth_;
        return true;
    }
    bool close()
    {
        --depth_;
        return true;
    }

    static constexpr const char* kLineKey = "line";
    Json fields_;
    int depth_ = 0;
    bool inLine_ = false;
    std::string key_, lineKey_;
};

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since the epoch.
std::optional<double> parseTime(const std::string& text)
{
    int y, mo, d, h, mi, s;
    char z = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
        z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return double(timegm(&tm));
}

std::string utcText(double t, const char* format)
{
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

// A key that is absent or null is "not given"; any other type than expected
// makes the line no report.
template <typename Check>
bool optionalKey(const Json& object, const char* key, Check&& check)
{
    const auto it = object.find(key);
    return it == object.end() || it->is_null() || check(*it);
}

bool optionalNumber(const Json& object, const char* key, std::optional<double>* out)
{
    return optionalKey(object, key, [out](const Json& v) {
        if (!v.is_number()) return false;
        *out = v.get<double>();
        return std::isfinite(**out);
    });
}

bool optionalText(const Json& object, const char* key, std::string* out)
{
    return optionalKey(object, key, [out](const Json& v) {
        if (!v.is_string()) return false;
        *out = v.get<std::string>();
        return true;
    });
}

// Why the line is no report, or "" with *panel filled.
const char* readPanel(const Json& line, Panel* panel, std::string* chip)
{
    if (line.is_discarded()) return "not JSON";
    if (!line.is_object()) return "not an object";
    const auto c = line.find("chip"), ok = line.find("ok"), time = line.find("time");
    if (c == line.end() || ok == line.end() || time == line.end()) return "missing key";
    if (!c->is_string() || !ok->is_boolean() || !time->is_string()) return "wrong type";
    const auto t = parseTime(time->get<std::string>());
    if (!t) return "wrong type";
    *chip = c->get<std::string>();
    panel->t = *t;
    panel->ok = ok->get<bool>();
    bool confirmed = true;
    const bool typed = optionalNumber(line, "best", &panel->best) &&
                       optionalNumber(line, "noise", &panel->noise) &&
                       optionalNumber(line, "updates", &panel->updates) &&
                       optionalNumber(line, "readings", &panel->readings) &&
                       optionalNumber(line, "elapsed_s", &panel->elapsed) &&
                       optionalText(line, "reason", &panel->reason) &&
                       optionalText(line, "error", &panel->error) &&
                       optionalText(line, "panel", &panel->id) &&
                       optionalKey(line, "confirmed",
                                   [&confirmed](const Json& v) {
                                       if (v.is_boolean()) confirmed = v.get<bool>();
                                       return v.is_boolean();
                                   }) &&
                       optionalKey(line, "line", [panel](const Json& v) {
                           std::optional<double> count;
                           if (!v.is_object() || !optionalNumber(v, "count", &count) ||
                               !optionalNumber(v, "mean", &panel->lineMean) ||
                               !optionalNumber(v, "sigma", &panel->lineSigma)) {
                               return false;
                           }
                           if (count.value_or(kMinLinePanels) < kMinLinePanels) {
                               panel->lineMean.reset();
                           }
                           return true;
                       });
    if (!typed) return "wrong type";
    panel->unconfirmed = !confirmed || panel->reason == "unconfirmed";
    return "";
}

void keepDetails(ChipLog& chip, const Panel& panel, const std::string& text, std::size_t keep)
{
    if (keep == 0) return;
    const double elapsed = panel.elapsed.value_or(0);
    if (chip.slowest.size() < keep || elapsed > chip.slowest.back().elapsed) {
        const auto at = std::find_if(chip.slowest.begin(), chip.slowest.end(),
                                     [elapsed](const Detail& d) { return elapsed > d.elapsed; });
        chip.slowest.insert(at, Detail{elapsed, panel.lineNo, text});
        if (chip.slowest.size() > keep) chip.slowest.pop_back();
    }
    if (panel.unconfirmed) {
        ++chip.unconfirmedCount;
        chip.unconfirmed.push_back(Detail{elapsed, panel.lineNo, text});
        if (chip.unconfirmed.size() > keep) chip.unconfirmed.pop_front();
    }
}

std::string percent(unsigned long part, unsigned long whole)
{
    return whole == 0 ? "–" : num(kPercent * part / whole, 1) + " %";
}

std::string shortened(const std::string& text)
{
    return text.size() <= kMaxMessage ? text : text.substr(0, kMaxMessage) + "…";
}

double quantile(std::vector<double>& values, double q)
{
    const std::size_t at = std::min(values.size() - 1, std::size_t(q * (values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + at, values.end());
    return values[at];
}

struct TimeAxis {
    double t0, t1;
    std::vector<double> ticks() const
    {
        static const double kSteps[] = {60,    300,   600,   900,   1800,   3600,   7200,
                                        10800, 21600, 43200, 86400, 172800, 604800, 2592000};
        const double span = t1 - t0;
        double step = kSteps[0];
        for (const double s : kSteps) {
            step = s;
            if (span / s <= 6) break;
        }
        std::vector<double> out;
        for (double t = std::ceil(t0 / step) * step; t <= t1; t += step) out.push_back(t);
        return out;
    }
    std::string label(double t) const
    {
        return utcText(t, t1 - t0 > 2 * kSecondsPerDay ? "%m-%d" : "%H:%M");
    }
};

struct Timed {
    double t, v;
};

std::string clipTo(Svg& svg, const Chart& chart, const std::string& id)
{
    svg.raw("<clipPath id=\"" + id + "\"><rect x=\"" + num(chart.left) + "\" y=\"" +
            num(chart.top) + "\" width=\"" + num(chart.width) + "\" height=\"" + num(chart.height) +
            "\"/></clipPath>\n");
    return "clip-path=\"url(#" + id + ")\"";
}

// Each value as a dot while they fit; past that a whisker from the 10th to
// the 90th percentile and the median per time bucket.
void drawOverTime(Svg& svg, const Chart& chart, std::vector<Timed> points,
                  const std::string& colour)
{
    if (points.size() <= kMaxPoints) {
        for (const Timed& p : points) {
            svg.circle(chart.x(p.t), chart.y(p.v), kPointRadius,
                       "class=\"pt\" fill=\"" + colour + "\" fill-opacity=\"0.7\"");
        }
        return;
    }
    std::vector<std::vector<double>> buckets(kTimeBuckets);
    const double span = std::max(1.0, chart.x.d1 - chart.x.d0);
    for (const Timed& p : points) {
        const auto b = std::size_t((p.t - chart.x.d0) / span * (kTimeBuckets - 1) + 0.5);
        buckets[std::min(b, kTimeBuckets - 1)].push_back(p.v);
    }
    for (std::size_t b = 0; b < kTimeBuckets; ++b) {
        std::vector<double>& values = buckets[b];
        if (values.empty()) continue;
        const double px = chart.x(chart.x.d0 + span * b / (kTimeBuckets - 1));
        svg.line(px, chart.y(quantile(values, kLow)), px, chart.y(quantile(values, kHigh)),
                 "stroke=\"" + colour + "\" stroke-opacity=\"0.5\" stroke-width=\"2\"");
        svg.circle(px, chart.y(quantile(values, 0.5)), kPointRadius,
                   "class=\"pt\" fill=\"" + colour + "\"");
    }
}

std::string note(const std::string& text)
{
    return "<p class=\"note\">" + escapeXml(text) + "</p>\n";
}

std::string figure(const std::string& caption, const std::string& body)
{
    return "<figure><figcaption>" + escapeXml(caption) + "</figcaption>\n" + body + "</figure>\n";
}

std::string histogram(const std::vector<double>& values, const std::string& cssClass,
                      const std::string& xTitle)
{
    if (values.empty()) return note("nothing to count");
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double first = std::floor(*lo);
    const double width = std::max(1.0, std::ceil((std::floor(*hi) - first + 1) / kMaxBars));
    std::map<long, unsigned long> bins;
    for (const double v : values) ++bins[long(std::floor((v - first) / width))];
    unsigned long most = 0;
    for (const auto& [bin, count] : bins) most = std::max(most, count);
    double y0 = 0, y1 = double(most);
    niceDomain(y0, y1);
    const double x0 = first - width / 2, x1 = first + (bins.rbegin()->first + 0.5) * width;
    Chart chart(kChartWidth, kChartHeight, kChartLeft, kChartTop, kChartRight, kChartBottom,
                x0 - width / 2, x1 + width / 2, 0, y1);
    Svg svg(kChartWidth, kChartHeight, cssClass);
    chart.axes(svg, xTitle + (width > 1 ? " (" + num(width, 0) + " per bar)" : ""), "panels");
    const double barWidth = std::max(1.0, chart.x(width) - chart.x(0) - 1);
    for (const auto& [bin, count] : bins) {
        const double cx = chart.x(first + bin * width + (width - 1) / 2);
        svg.rect(cx - barWidth / 2, chart.y(double(count)), barWidth,
                 chart.bottom() - chart.y(double(count)),
                 "class=\"bar\" fill=\"#1f4e9c\"><title>" + num(first + bin * width, 0) + ": " +
                     std::to_string(count) + "</title></rect");
    }
    return svg.finish();
}

std::string driftChart(const std::vector<Panel>& panels, const TimeAxis& axis,
                       const std::string& id)
{
    std::vector<Timed> codes;
    double y0 = INFINITY, y1 = -INFINITY;
    for (const Panel& p : panels) {
        if (!p.ok || !p.best) continue;
        codes.push_back({p.t, *p.best});
        y0 = std::min(y0, *p.best);
        y1 = std::max(y1, *p.best);
    }
    if (codes.empty()) return note("no chosen codes");
    // The band per time bucket: what the search was seeded with then.
    std::vector<double> mean(kTimeBuckets), sigma(kTimeBuckets);
    std::vector<unsigned> n(kTimeBuckets);
    const double span = std::max(1.0, axis.t1 - axis.t0);
    for (const Panel& p : panels) {
        if (!p.lineMean) continue;
        const auto b = std::min(kTimeBuckets - 1,
                                std::size_t((p.t - axis.t0) / span * (kTimeBuckets - 1) + 0.5));
        mean[b] += *p.lineMean;
        sigma[b] += p.lineSigma.value_or(0);
        ++n[b];
        y0 = std::min(y0, *p.lineMean);
        y1 = std::max(y1, *p.lineMean);
    }
    niceDomain(y0, y1);
    Chart chart(kChartWidth, kChartHeight, kChartLeft, kChartTop, kChartRight, kChartBottom,
                axis.t0, axis.t1, y0, y1);
    Svg svg(kChartWidth, kChartHeight, "drift");
    chart.axes(
        svg, "time (UTC)", "chosen code", [&axis](double t) { return axis.label(t); },
        axis.ticks());
    std::vector<std::pair<double, double>> upper, lower, centre;
    for (std::size_t b = 0; b < kTimeBuckets; ++b) {
        if (n[b] == 0) continue;
        const double px = chart.x(axis.t0 + span * b / (kTimeBuckets - 1));
        const double m = mean[b] / n[b], s = sigma[b] / n[b];
        centre.push_back({px, chart.y(m)});
        upper.push_back({px, chart.y(m + kBandSigmas * s)});
        lower.insert(lower.begin(), {px, chart.y(m - kBandSigmas * s)});
    }
    svg.raw("<g " + clipTo(svg, chart, id) + ">\n");
    if (!centre.empty()) {
        upper.insert(upper.end(), lower.begin(), lower.end());
        svg.raw("<polygon class=\"band\" fill=\"#9ecae1\" fill-opacity=\"0.35\" points=\"" +
                pointList(upper) + "\"/>\n");
        svg.polyline(centre, "class=\"line-mean\" stroke=\"#3182bd\" stroke-width=\"1.5\"");
    }
    drawOverTime(svg, chart, codes, "#222");
    svg.raw("</g>\n");
    return svg.finish();
}

std::string noiseChart(const std::vector<Panel>& panels, const TimeAxis& axis,
                       const std::string& id)
{
    std::vector<Timed> noise;
    double y1 = 0;
    for (const Panel& p : panels) {
        if (!p.noise) continue;
        noise.push_back({p.t, *p.noise});
        y1 = std::max(y1, *p.noise);
    }
    if (noise.empty()) return note("no noise estimates in this log");
    double y0 = 0;
    y1 *= kNoiseHeadroom;
    niceDomain(y0, y1);
    Chart chart(kChartWidth, kChartHeight, kChartLeft, kChartTop, kChartRight, kChartBottom,
                axis.t0, axis.t1, y0, y1);
    Svg svg(kChartWidth, kChartHeight, "noise");
    chart.axes(
        svg, "time (UTC)", "meter noise (std dev)", [&axis](double t) { return axis.label(t); },
        axis.ticks());
    svg.raw("<g " + clipTo(svg, chart, id) + ">\n");
    drawOverTime(svg, chart, noise, "#8c564b");
    svg.raw("</g>\n");
    return svg.finish();
}

// Updates against readings, panels counted per cell.
std::string costChart(const std::vector<Panel>& panels)
{
    std::vector<std::pair<double, double>> cost;
    double ux = 0, ry = 0;
    for (const Panel& p : panels) {
        if (!p.updates || !p.readings) continue;
        cost.push_back({*p.updates, *p.readings});
        ux = std::max(ux, *p.updates);
        ry = std::max(ry, *p.readings);
    }
    if (cost.empty()) return note("no update or reading counts in this log");
    const double cw = std::max(1.0, std::ceil((ux + 1) / kMaxHeatCells));
    const double ch = std::max(1.0, std::ceil((ry + 1) / kMaxHeatCells));
    std::map<std::pair<long, long>, unsigned long> cells;
    unsigned long most = 0;
    for (const auto& [u, r] : cost) most = std::max(most, ++cells[{long(u / cw), long(r / ch)}]);
    double x1 = ux + cw, y1 = ry + ch, x0 = 0, y0 = 0;
    niceDomain(x0, x1);
    niceDomain(y0, y1);
    Chart chart(kChartWidth, kChartHeight, kChartLeft, kChartTop, kChartRight, kChartBottom, x0, x1,
                y0, y1);
    Svg svg(kChartWidth, kChartHeight, "cost");
    chart.axes(svg, "updates per panel", "readings per panel");
    for (const auto& [cell, count] : cells) {
        const double shade = 0.25 + 0.75 * std::log1p(double(count)) / std::log1p(double(most));
        const double px = chart.x(cell.first * cw), py = chart.y((cell.second + 1) * ch);
        svg.rect(px, py, std::max(2.0, chart.x(cw) - chart.x(0)),
                 std::max(2.0, chart.y(0) - chart.y(ch)),
                 "class=\"cell\" fill=\"#d62728\" fill-opacity=\"" + num(shade, 2) + "\"><title>" +
                     std::to_string(count) + " panels</title></rect");
    }
    return svg.finish();
}

std::string panelLabel(const Panel& p)
{
    return p.id.empty() ? "line " + std::to_string(p.lineNo) : p.id;
}

std::string failuresTable(const std::vector<Panel>& panels)
{
    std::map<std::string, std::pair<unsigned long, std::string>> byReason;
    for (const Panel& p : panels) {
        if (p.ok) continue;
        auto& entry = byReason[p.reason.empty() ? "unknown" : p.reason];
        if (entry.first++ == 0) entry.second = p.error;
    }
    if (byReason.empty()) return note("no failures");
    std::string html =
        "<table class=\"reasons\"><tr><th>reason</th><th>panels</th><th>share</th>"
        "<th>first message</th></tr>\n";
    for (const auto& [reason, entry] : byReason) {
        html += "<tr><td class=\"bad\">" + escapeXml(reason) + "</td><td class=\"n\">" +
                std::to_string(entry.first) + "</td><td class=\"n\">" +
                percent(entry.first, panels.size()) + "</td><td>" +
                escapeXml(shortened(entry.second)) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

class Report {
public:
    explicit Report(const LineReportOptions& options) : options_(options) {}

    void read(std::istream& in)
    {
        std::string text;
        for (unsigned long lineNo = 1; std::getline(in, text); ++lineNo) {
            if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
            Panel panel;
            panel.lineNo = lineNo;
            std::string chip;
            ReportFields fields;
            const char* why = readPanel(Json::sax_parse(withoutBulky(text), &fields)
                                            ? fields.take()
                                            : Json(Json::value_t::discarded),
                                        &panel, &chip);
            if (*why != '\0') {
                Skipped& s = skipped_[why];
                if (s.lines.size() < kListedSkippedLines) s.lines.push_back(lineNo);
                ++s.count;
                continue;
            }
            ChipLog& log = chips_[chip];
            keepDetails(log, panel, text, options_.detailPanels);
            log.panels.push_back(std::move(panel));
        }
    }

    void count(LineReportCounts& counts) const
    {
        counts = LineReportCounts{};
        for (const auto& [name, log] : chips_) counts.panels += log.panels.size();
        for (const auto& [why, s] : skipped_) {
            counts.skipped += s.count;
            counts.skippedBy[why] = s.count;
        }
    }

    std::string html()
    {
        std::vector<Panel> all;
        TimeAxis axis{INFINITY, -INFINITY};
        for (auto& [name, log] : chips_) {
            std::stable_sort(log.panels.begin(), log.panels.end(),
                             [](const Panel& a, const Panel& b) { return a.t < b.t; });
            axis.t0 = std::min(axis.t0, log.panels.front().t);
            axis.t1 = std::max(axis.t1, log.panels.back().t);
            all.insert(all.end(), log.panels.begin(), log.panels.end());
        }
        std::string out =
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>" +
            escapeXml(options_.title) + "</title>\n<style>" + kCss +
            "</style></head>\n<body>\n<header>\n<h1>" + escapeXml(options_.title) + "</h1>\n" +
            headline(all, axis) + "<div class=\"screen-only\">\n";
        if (!all.empty()) out += "<h3>Failures by reason, all chips</h3>\n" + failuresTable(all);
        out += "<p>Chips:";
        std::size_t index = 0;
        for (const auto& [name, log] : chips_) {
            out += " <a href=\"#chip-" + std::to_string(index++) + "\">" + escapeXml(name) + "</a>";
        }
        out += "</p>\n</div>\n</header>\n";
        if (axis.t1 == axis.t0) axis.t1 = axis.t0 + 1;
        index = 0;
        for (const auto& [name, log] : chips_) out += chipSection(name, log, axis, index++);
        return out + "</body></html>\n";
    }

private:
    std::string headline(const std::vector<Panel>& all, const TimeAxis& axis) const
    {
        const auto good =
            std::count_if(all.begin(), all.end(), [](const Panel& p) { return p.ok; });
        std::string text = "<p class=\"headline\">";
        if (all.empty()) {
            text += "No calibration reports in this log.";
        } else {
            text += std::to_string(all.size()) + " panels, " + utcText(axis.t0, "%Y-%m-%d %H:%M") +
                    " to " + utcText(axis.t1, "%Y-%m-%d %H:%M") + " UTC · yield <b id=\"yield\">" +
                    percent(good, all.size()) + "</b> (" + std::to_string(good) + " of " +
                    std::to_string(all.size()) + " calibrated)";
        }
        unsigned long skipped = 0;
        std::string detail;
        for (const auto& [why, s] : skipped_) {
            skipped += s.count;
            detail += std::string(detail.empty() ? "" : "; ") + why + ": " +
                      std::to_string(s.count) + " (line";
            for (const unsigned long line : s.lines) detail += " " + std::to_string(line);
            detail += s.count > s.lines.size() ? " …)" : ")";
        }
        if (skipped > 0) {
            text += " · <span id=\"skipped\" class=\"bad\">" + std::to_string(skipped) +
                    " log line" + (skipped == 1 ? "" : "s") + " skipped</span> (" + detail + ")";
        }
        return text + "</p>\n";
    }

    std::string panelList(const std::vector<Detail>& drawn, const std::vector<Panel>& panels,
                          bool unconfirmedOnly) const
    {
        std::vector<const Panel*> listed;
        for (const Panel& p : panels) {
            if (!unconfirmedOnly || p.unconfirmed) listed.push_back(&p);
        }
        if (unconfirmedOnly) {
            std::reverse(listed.begin(), listed.end());  // the latest first
        } else {
            std::stable_sort(listed.begin(), listed.end(), [](const Panel* a, const Panel* b) {
                return a->elapsed.value_or(0) > b->elapsed.value_or(0);
            });
        }
        if (listed.size() > kListedPanels) listed.resize(kListedPanels);
        std::string html = "<ol>";
        for (const Panel* p : listed) {
            const bool shown = std::any_of(drawn.begin(), drawn.end(),
                                           [p](const Detail& d) { return d.lineNo == p->lineNo; });
            const std::string label = escapeXml(panelLabel(*p));
            html += "<li>" +
                    (shown ? "<a href=\"#p" + std::to_string(p->lineNo) + "\">" + label + "</a>"
                           : label) +
                    ": " + num(p->elapsed.value_or(0), 2) + " s, " +
                    num(p->updates.value_or(0), 0) + " updates" + (p->ok ? "" : ", failed") +
                    "</li>";
        }
        return html + "</ol>\n";
    }

    std::string chipSection(const std::string& name, const ChipLog& log, const TimeAxis& axis,
                            std::size_t index) const
    {
        const std::string id = "chip-" + std::to_string(index);
        const auto good = std::count_if(log.panels.begin(), log.panels.end(),
                                        [](const Panel& p) { return p.ok; });
        std::vector<double> codes;
        for (const Panel& p : log.panels) {
            if (p.ok && p.best) codes.push_back(*p.best);
        }
        std::vector<Detail> drawn(log.slowest.begin(), log.slowest.end());
        for (const Detail& d : log.unconfirmed) {
            const bool twice = std::any_of(drawn.begin(), drawn.end(),
                                           [&d](const Detail& s) { return s.lineNo == d.lineNo; });
            if (!twice) drawn.push_back(d);
        }
        std::string html = "<section class=\"chip\" id=\"" + id + "\">\n<h2>" + escapeXml(name) +
                           " · <span class=\"chip-yield\">yield " +
                           percent(good, log.panels.size()) + "</span> (" + std::to_string(good) +
                           " of " + std::to_string(log.panels.size()) + " panels)</h2>\n";
        html += "<div class=\"row\"><div><h3>Failures by reason</h3>\n" +
                failuresTable(log.panels) + "</div><div><h3>Slowest</h3>\n" +
                panelList(drawn, log.panels, false) +
                "<h3>Unconfirmed: " + std::to_string(log.unconfirmedCount) + "</h3>\n" +
                (log.unconfirmedCount ? panelList(drawn, log.panels, true) : "") + "</div></div>\n";
        html +=
            "<div class=\"grid\">\n" +
            figure("Chosen codes", histogram(codes, "codes", "chosen code")) +
            figure("Chosen code over time; band: line mean ± 3σ",
                   driftChart(log.panels, axis, id + "-drift")) +
            figure("Updates and readings per panel (darker: more panels)", costChart(log.panels)) +
            figure("Meter noise over time", noiseChart(log.panels, axis, id + "-noise")) +
            "</div>\n<div class=\"grid\">\n";
        for (const Detail& d : drawn) {
            const Json report = Json::parse(d.text, nullptr, false);
            const bool slow = std::any_of(log.slowest.begin(), log.slowest.end(),
                                          [&d](const Detail& s) { return s.lineNo == d.lineNo; });
            PanelPlotStyle style;
            style.idPrefix = "p" + std::to_string(d.lineNo) + "-";
            style.width = kDetailWidth;
            style.height = kDetailHeight;
            html += "<figure id=\"p" + std::to_string(d.lineNo) + "\"><figcaption>" +
                    (slow ? "slow: " + num(d.elapsed, 2) + " s" : std::string("unconfirmed")) +
                    " (log line " + std::to_string(d.lineNo) + ")</figcaption>\n" +
                    panelSvg(report, style) + "</figure>\n";
        }
        return html + "</div>\n</section>\n";
    }

    const LineReportOptions& options_;
    std::map<std::string, ChipLog> chips_;
    std::map<std::string, Skipped> skipped_;
};

}  // namespace

std::string lineReportHtml(std::istream& jsonl, const LineReportOptions& options,
                           LineReportCounts* counts)
{
    Report report(options);
    report.read(jsonl);
    if (counts != nullptr) report.count(*counts);
    return report.html();
}

}  // namespace vcomplot
}  // namespace ze
