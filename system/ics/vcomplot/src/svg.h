#pragma once
// The few drawing pieces the plots share: numbers written short, linear
// scales with round ticks, an SVG text builder and a framed chart with axes.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ze {
namespace vcomplot {

// A coordinate or value with at most `decimals` decimals, trailing zeros cut.
std::string num(double value, int decimals = 1);

// Reading a report that may lack keys or hold the wrong types.
std::optional<double> numberAt(const nlohmann::json& object, const char* key);
std::string textAt(const nlohmann::json& object, const char* key);
bool flagAt(const nlohmann::json& object, const char* key);  // false unless a true boolean

struct Scale {
    double d0 = 0, d1 = 1;  // domain
    double r0 = 0, r1 = 1;  // range, in pixels
    double operator()(double v) const
    {
        return d1 == d0 ? (r0 + r1) / 2 : r0 + (v - d0) * (r1 - r0) / (d1 - d0);
    }
};

// Round tick values inside [lo, hi], about `target` of them.
std::vector<double> niceTicks(double lo, double hi, int target);
// Widens [lo, hi] to round ends; a degenerate span gets some room.
void niceDomain(double& lo, double& hi);

class Svg {
public:
    Svg(int width, int height, const std::string& cssClass);
    std::string finish();

    // `attrs` is extra attribute text, already escaped.
    void line(double x1, double y1, double x2, double y2, const std::string& attrs);
    void rect(double x, double y, double w, double h, const std::string& attrs);
    void circle(double x, double y, double r, const std::string& attrs);
    void text(double x, double y, const std::string& content, const std::string& attrs);
    // Points as "x,y x,y ..."; nothing for fewer than two.
    void polyline(const std::vector<std::pair<double, double>>& points, const std::string& attrs);
    void raw(const std::string& markup) { out_ += markup; }

private:
    std::string out_;
};

std::string pointList(const std::vector<std::pair<double, double>>& points);

// A plot area inside an SVG with its two scales and axes.
struct Chart {
    double left, top, width, height;
    Scale x, y;

    Chart(double svgWidth, double svgHeight, double marginLeft, double marginTop,
          double marginRight, double marginBottom, double x0, double x1, double y0, double y1);
    double bottom() const { return top + height; }
    double right() const { return left + width; }
    // Frame, grid, tick labels (classes xtick/ytick) and axis titles.
    void axes(Svg& svg, const std::string& xTitle, const std::string& yTitle,
              const std::function<std::string(double)>& xLabel = {},
              const std::vector<double>& xTicks = {}) const;
    bool inside(double px, double py) const;
};

}  // namespace vcomplot
}  // namespace ze
