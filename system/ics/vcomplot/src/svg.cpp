#include "svg.h"

#include <cmath>
#include <cstdio>

#include <ze/vcomplot/plot.h>

namespace ze {
namespace vcomplot {
namespace {

constexpr double kTickLength = 4;
constexpr double kTickLabelGap = 14;
constexpr double kAxisTitleGap = 30;
constexpr double kYTitleOffset = 40;
constexpr int kXTicks = 8;
constexpr int kYTicks = 5;
constexpr double kEmptySpanPad = 1;
constexpr double kEdgeSlack = 0.5;  // pixels a mark may stand off the frame and still be drawn

}  // namespace

std::string escapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                    out += ' ';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string num(double value, int decimals)
{
    if (!std::isfinite(value)) return "0";
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

std::optional<double> numberAt(const nlohmann::json& object, const char* key)
{
    if (!object.is_object()) return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    const double v = it->get<double>();
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

std::string textAt(const nlohmann::json& object, const char* key)
{
    if (!object.is_object()) return "";
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

bool flagAt(const nlohmann::json& object, const char* key)
{
    if (!object.is_object()) return false;
    const auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::vector<double> niceTicks(double lo, double hi, int target)
{
    std::vector<double> ticks;
    if (!(hi > lo) || target < 1) return ticks;
    const double rough = (hi - lo) / target;
    const double magnitude = std::pow(10, std::floor(std::log10(rough)));
    double step = magnitude;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * magnitude;
        if (step >= rough) break;
    }
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step) {
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0 : t);
    }
    return ticks;
}

void niceDomain(double& lo, double& hi)
{
    if (!(hi > lo)) {
        lo -= kEmptySpanPad;
        hi += kEmptySpanPad;
    }
    const std::vector<double> ticks = niceTicks(lo, hi, kYTicks);
    if (ticks.size() < 2) return;
    const double step = ticks[1] - ticks[0];
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
}

Svg::Svg(int width, int height, const std::string& cssClass)
{
    out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"" + cssClass + "\" width=\"" +
           std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
           std::to_string(width) + " " + std::to_string(height) +
           "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"11\">\n";
}

std::string Svg::finish()
{
    return out_ + "</svg>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, const std::string& attrs)
{
    out_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
            num(y2) + "\" " + attrs + "/>\n";
}

void Svg::rect(double x, double y, double w, double h, const std::string& attrs)
{
    out_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" +
            num(h) + "\" " + attrs + "/>\n";
}

void Svg::circle(double x, double y, double r, const std::string& attrs)
{
    out_ += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"" + num(r) + "\" " + attrs +
            "/>\n";
}

void Svg::text(double x, double y, const std::string& content, const std::string& attrs)
{
    out_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + attrs + ">" + escapeXml(content) +
            "</text>\n";
}

std::string pointList(const std::vector<std::pair<double, double>>& points)
{
    std::string list;
    for (const auto& [x, y] : points) {
        if (!list.empty()) list += ' ';
        list += num(x) + "," + num(y);
    }
    return list;
}

void Svg::polyline(const std::vector<std::pair<double, double>>& points, const std::string& attrs)
{
    if (points.size() < 2) return;
    out_ += "<polyline fill=\"none\" points=\"" + pointList(points) + "\" " + attrs + "/>\n";
}

Chart::Chart(double svgWidth, double svgHeight, double marginLeft, double marginTop,
             double marginRight, double marginBottom, double x0, double x1, double y0, double y1)
    : left(marginLeft),
      top(marginTop),
      width(svgWidth - marginLeft - marginRight),
      height(svgHeight - marginTop - marginBottom),
      x{x0, x1, left, left + width},
      y{y0, y1, top + height, top}
{
}

bool Chart::inside(double px, double py) const
{
    return px >= left - kEdgeSlack && px <= right() + kEdgeSlack && py >= top - kEdgeSlack &&
           py <= bottom() + kEdgeSlack;
}

void Chart::axes(Svg& svg, const std::string& xTitle, const std::string& yTitle,
                 const std::function<std::string(double)>& xLabel,
                 const std::vector<double>& xTicks) const
{
    svg.rect(left, top, width, height, "fill=\"#fff\" stroke=\"#888\"");
    const std::vector<double> xs = xTicks.empty() ? niceTicks(x.d0, x.d1, kXTicks) : xTicks;
    for (const double v : xs) {
        const double px = x(v);
        svg.line(px, top, px, bottom(), "stroke=\"#eee\"");
        svg.line(px, bottom(), px, bottom() + kTickLength, "stroke=\"#888\"");
        svg.text(px, bottom() + kTickLabelGap, xLabel ? xLabel(v) : num(v, 2),
                 "class=\"xtick\" text-anchor=\"middle\"");
    }
    for (const double v : niceTicks(y.d0, y.d1, kYTicks)) {
        const double py = y(v);
        svg.line(left, py, right(), py, "stroke=\"#eee\"");
        svg.line(left - kTickLength, py, left, py, "stroke=\"#888\"");
        svg.text(left - kTickLength - 2, py + 4, num(v, 2), "class=\"ytick\" text-anchor=\"end\"");
    }
    svg.text(left + width / 2, bottom() + kAxisTitleGap, xTitle, "text-anchor=\"middle\"");
    const double ty = top + height / 2;
    svg.text(left - kYTitleOffset, ty, yTitle,
             "text-anchor=\"middle\" transform=\"rotate(-90 " + num(left - kYTitleOffset) + " " +
                 num(ty) + ")\"");
}

}  // namespace vcomplot
}  // namespace ze
