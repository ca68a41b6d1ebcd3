#include <ze/vcomcal/search.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>

namespace ze {
namespace vcomcal {
namespace {

// Unseeded, the first bracket spans this fraction of the range on each side
// of its middle; seeded, the line's mean plus or minus this many sigmas, but
// never narrower than the minimum half width.
constexpr double kUnseededHalfWidth = 0.25;
constexpr double kSeedSigmas = 4.0;
constexpr double kMinSeedHalfWidth = 8.0;
// Bracket widening steps out by the golden ratio of the last gap.
constexpr double kWidenFactor = 1.618;
// A point counts as on an arm when it rises this many noise sigmas (of a
// median) above the lowest point, and by this fraction of the largest rise
// (which matters only for a meter without noise).
constexpr double kArmNoiseSigmas = 4.0;
constexpr double kArmRiseFraction = 0.02;
// Each round places a pair of arm points at this fraction of the lower
// bracket edge's rise: two levels give each arm line a baseline.
constexpr double kArmLevels[] = {0.5, 0.25};
// How far a point's position may be blurred by noise, in codes.
constexpr double kTargetCodeError = 0.25;
// Median of n readings has about this much more spread than their mean.
constexpr double kMedianEfficiency = 1.25;
// An arm point this many sigmas off its line is measured again.
constexpr double kOutlierSigmas = 5.0;
// Moves kept back for the final measurement and its fallback.
constexpr unsigned kFinalMoves = 2;
// The bracket's three points, then the final ones.
constexpr unsigned kMinMoves = 3 + kFinalMoves;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Line {
    double intercept;
    double slope;
    double at(double x) const { return intercept + slope * x; }
    double where(double level) const { return (level - intercept) / slope; }
};

struct XY {
    double x;
    double y;
};

Line fitLine(const std::vector<XY>& points)
{
    double sx = 0, sy = 0;
    for (const XY& p : points) {
        sx += p.x;
        sy += p.y;
    }
    const double n = static_cast<double>(points.size());
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (const XY& p : points) {
        sxx += (p.x - mx) * (p.x - mx);
        sxy += (p.x - mx) * (p.y - my);
    }
    const double slope = sxx > 0 ? sxy / sxx : 0.0;
    return {my - slope * mx, slope};
}

// The two arms as the points show them: a line for each side that has
// points, and where they meet.
struct Fit {
    double optimum;
    std::optional<Line> left;
    std::optional<Line> right;
    std::vector<XY> leftPoints;
    std::vector<XY> rightPoints;
};

class Search {
public:
    Search(const SearchConfig& config, const Probe& probe) : config_(config), probe_(probe)
    {
        if (config.lo >= config.hi) throw std::invalid_argument("empty value range");
        if (config.samples == 0 || config.maxSamples < config.samples) {
            throw std::invalid_argument("readings per measurement must be 1 or more");
        }
        if (config.maxMoves < kMinMoves) {
            throw std::invalid_argument("the search needs at least " + std::to_string(kMinMoves) +
                                        " updates");
        }
    }

    SearchResult run()
    {
        bracket();
        Fit fit = estimate();
        for (double armLevel : kArmLevels) {
            if (!movesLeft()) break;
            // The bottom first: only with it measured do the points above it
            // show how far up the arms they are.
            measure(clampValue(fit.optimum), config_.samples);
            fit = estimate();
            if (!movesLeft()) break;
            placeArmPair(fit, armLevel);
            fit = estimate();
        }
        fit = remeasureOutliers(fit);
        finish(fit.optimum);
        return result_;
    }

private:
    int lo() const { return static_cast<int>(config_.lo); }
    int hi() const { return static_cast<int>(config_.hi); }
    int clampValue(double v) const
    {
        return std::clamp(static_cast<int>(std::lround(v)), lo(), hi());
    }
    bool movesLeft() const { return result_.moves + kFinalMoves < config_.maxMoves; }

    double level(int v) const { return median(points_.at(v)); }

    double measure(int v, unsigned readings)
    {
        if (v != current_) {
            ++result_.moves;
            current_ = v;
        }
        const std::vector<double> taken = probe_(static_cast<unsigned>(v), readings);
        std::vector<double>& all = points_[v];
        all.insert(all.end(), taken.begin(), taken.end());
        result_.measurements.push_back(
            {static_cast<unsigned>(v), median(taken), static_cast<unsigned>(taken.size())});
        return level(v);
    }

    int lowest() const
    {
        return std::min_element(
                   points_.begin(), points_.end(),
                   [this](const auto& a, const auto& b) { return level(a.first) < level(b.first); })
            ->first;
    }

    // Spread of one reading: the median over points of their own spread, so
    // that one outlier does not set it.
    double readingSigma() const
    {
        std::vector<double> sigmas;
        for (const auto& [v, readings] : points_) {
            if (readings.size() < 2) continue;
            double mean = 0;
            for (double r : readings) mean += r;
            mean /= readings.size();
            double ss = 0;
            for (double r : readings) ss += (r - mean) * (r - mean);
            sigmas.push_back(std::sqrt(ss / (readings.size() - 1)));
        }
        return sigmas.empty() ? 0.0 : median(sigmas);
    }

    double pointSigma() const
    {
        return kMedianEfficiency * readingSigma() / std::sqrt(static_cast<double>(config_.samples));
    }

    unsigned readingsFor(double slope) const
    {
        const double blur = slope > 0 ? readingSigma() / (slope * kTargetCodeError) : 0.0;
        const double wanted = std::ceil(kMedianEfficiency * kMedianEfficiency * blur * blur);
        return static_cast<unsigned>(std::clamp(wanted, static_cast<double>(config_.samples),
                                                static_cast<double>(config_.maxSamples)));
    }

    double armThreshold() const
    {
        const double floor = level(lowest());
        double maxRise = 0;
        for (const auto& entry : points_) maxRise = std::max(maxRise, level(entry.first) - floor);
        return std::max(kArmNoiseSigmas * pointSigma(), kArmRiseFraction * maxRise);
    }

    bool onArm(int v) const
    {
        const double rise = level(v) - level(lowest());
        return rise > 0 && rise >= armThreshold();
    }

    void bracket()
    {
        double center = (config_.lo + config_.hi) / 2.0;
        double half = kUnseededHalfWidth * (config_.hi - config_.lo);
        if (config_.seedMean && config_.seedSigma) {
            center = *config_.seedMean;
            half = std::max(kSeedSigmas * *config_.seedSigma, kMinSeedHalfWidth);
        }
        for (double v : {center - half, center, center + half})
            measure(clampValue(v), config_.samples);

        // Widen while an edge is the lowest point or still on the flat
        // bottom, unless it is already the end of the range.
        while (movesLeft()) {
            const int left = points_.begin()->first;
            const int right = points_.rbegin()->first;
            const int low = lowest();
            const int next = std::next(points_.begin())->first;
            const int prev = std::prev(points_.end(), 2)->first;
            if (left > lo() && (low == left || !onArm(left))) {
                measure(clampValue(left - kWidenFactor * (next - left)), config_.samples);
            } else if (right < hi() && (low == right || !onArm(right))) {
                measure(clampValue(right + kWidenFactor * (right - prev)), config_.samples);
            } else {
                break;
            }
        }
    }

    // Points left and right of the lowest one are the two arms, less those
    // the noise could have put there.
    Fit estimate() const
    {
        Fit fit;
        const int low = lowest();
        for (const auto& entry : points_) {
            if (!onArm(entry.first)) continue;
            const XY p{static_cast<double>(entry.first), level(entry.first)};
            (entry.first < low ? fit.leftPoints : fit.rightPoints).push_back(p);
        }
        fitArms(fit);
        return fit;
    }

    void fitArms(Fit& fit) const
    {
        if (fit.leftPoints.size() >= 2) fit.left = fitLine(fit.leftPoints);
        if (fit.rightPoints.size() >= 2) fit.right = fitLine(fit.rightPoints);
        // An arm with one point borrows the other arm's steepness.
        if (!fit.left && fit.leftPoints.size() == 1 && fit.right) {
            fit.left = lineThrough(fit.leftPoints[0], -fit.right->slope);
        }
        if (!fit.right && fit.rightPoints.size() == 1 && fit.left) {
            fit.right = lineThrough(fit.rightPoints[0], -fit.left->slope);
        }
        if (!fit.left && !fit.right && fit.leftPoints.size() == 1 && fit.rightPoints.size() == 1) {
            // Three points, equal slopes: the lowest shares an arm with one of
            // the others; the pair that straddles the bottom shows the
            // shallower slope, so the steeper pairing is the true arm and the
            // other arm is its mirror image.
            const XY& l = fit.leftPoints[0];
            const XY& r = fit.rightPoints[0];
            const XY m{static_cast<double>(lowest()), level(lowest())};
            const double withLeft = (l.y - m.y) / (m.x - l.x);
            const double withRight = (r.y - m.y) / (r.x - m.x);
            const double steep = std::max(withLeft, withRight);
            fit.left = lineThrough(l, -steep);
            fit.right = lineThrough(r, steep);
        }
        if (fit.left && fit.right && fit.left->slope < 0 && fit.right->slope > 0) {
            fit.optimum =
                (fit.left->intercept - fit.right->intercept) / (fit.right->slope - fit.left->slope);
        } else if (fit.right && !fit.left && lowest() == lo()) {
            fit.optimum = (lo() + crossing(level(lo()), +1)) / 2.0;
        } else if (fit.left && !fit.right && lowest() == hi()) {
            fit.optimum = (hi() + crossing(level(hi()), -1)) / 2.0;
        } else {
            fit.optimum = lowest();
        }
        fit.optimum = std::clamp(fit.optimum, static_cast<double>(lo()), static_cast<double>(hi()));
    }

    static Line lineThrough(const XY& p, double slope) { return {p.y - slope * p.x, slope}; }

    // Where the measured curve, walked from the lowest point in `direction`,
    // first reaches `target`: the optimum's mirror image of a range end.
    double crossing(double target, int direction) const
    {
        int below = lowest();
        for (auto it = points_.find(below);;) {
            if (direction > 0 ? ++it == points_.end() : it-- == points_.begin()) break;
            const double y = level(it->first);
            if (y >= target) {
                const double yb = level(below);
                const double t = y > yb ? (target - yb) / (y - yb) : 0.0;
                return below + t * (it->first - below);
            }
            below = it->first;
        }
        return below;
    }

    // One point on each arm at the same rise, below the lower bracket edge,
    // where the line fit gains most and noise still cannot hide the rise.
    void placeArmPair(const Fit& fit, double armLevel)
    {
        const double floor = level(lowest());
        double edgeRise = 0;
        if (!fit.leftPoints.empty()) edgeRise = fit.leftPoints.front().y - floor;
        if (!fit.rightPoints.empty()) {
            const double rightRise = fit.rightPoints.back().y - floor;
            edgeRise = edgeRise > 0 ? std::min(edgeRise, rightRise) : rightRise;
        }
        const double rise = std::max(armLevel * edgeRise, 2 * armThreshold());
        const double o = fit.optimum;
        for (const std::optional<Line>& arm : {fit.left, fit.right}) {
            if (!arm || !movesLeft()) continue;
            const int v = clampValue(arm->where(floor + rise));
            measure(v, readingsFor(std::abs(arm->slope)));
        }
        // At a range end the missing arm is its mirror image.
        if (!fit.left && fit.right && o - lo() > 0)
            measure(clampValue(2 * o - lo()), config_.samples);
        if (!fit.right && fit.left && hi() - o > 0)
            measure(clampValue(2 * o - hi()), config_.samples);
    }

    Fit remeasureOutliers(Fit fit)
    {
        const double limit = kOutlierSigmas * pointSigma();
        if (limit <= 0) return fit;
        for (const auto& [arm, points] : {std::make_pair(fit.left, fit.leftPoints),
                                          std::make_pair(fit.right, fit.rightPoints)}) {
            if (!arm || points.size() < 3) continue;
            for (const XY& p : points) {
                if (std::abs(p.y - arm->at(p.x)) > limit && movesLeft()) {
                    measure(static_cast<int>(p.x), readingsFor(std::abs(arm->slope)));
                }
            }
        }
        return estimate();
    }

    // The estimate is measured last, so the panel ends there; if it proves
    // worse than the best point seen, that point wins.
    void finish(double optimum)
    {
        int best = clampValue(optimum);
        measure(best, config_.samples);
        const int low = lowest();
        if (level(best) - level(low) > kArmNoiseSigmas * pointSigma()) {
            best = low;
            measure(best, config_.samples);
        }
        result_.best = static_cast<unsigned>(best);
        result_.flicker = level(best);
    }

    const SearchConfig& config_;
    const Probe& probe_;
    std::map<int, std::vector<double>> points_;
    int current_ = -1;
    SearchResult result_;
};

}  // namespace

SearchResult findOptimum(const SearchConfig& config, const Probe& probe)
{
    return Search(config, probe).run();
}

}  // namespace vcomcal
}  // namespace ze
