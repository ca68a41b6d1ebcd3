#include <ze/vcomcal/search.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

namespace ze {
namespace vcomcal {
namespace {

constexpr double kGolden = 0.381966;  // 2 - the golden ratio
// A seed window grows outwards by this factor of the measured span.
constexpr double kGrowth = 1.618;
constexpr double kSeedSigmas = 4.0;
constexpr double kMinSeedHalfWidth = 8.0;
// Points this many codes or more from the lowest take the far readings.
constexpr int kNearCodes = 4;
constexpr unsigned kFarReadings = 2;
// A model's proposal is taken while the bracket shrinks at least this much
// over two steps; otherwise a golden step keeps the convergence.
constexpr double kModelShrink = 0.6;
// The confirmation: one-sided, 95 %, looking this many codes out each side.
constexpr double kConfidence = 0.95;
constexpr double kConfidenceSigmas = 1.645;
constexpr int kConfirmReach = 3;
// A parabola needs this many values to be more than a guess.
constexpr int kFitPoints = 4;
// Below this, a rise is taken as this much when working out more readings.
constexpr double kMinRiseSeen = 0.5;
// More readings go to the value the panel is at when its median's error is
// at least this share of the other's.
constexpr double kCheaperShare = 0.5;
// Two readings this many noise sigmas apart hold an outlier.
constexpr double kOutlierSigmas = 4.0;
// A point read again whose new median is this far from its old one has
// moved (the panel drifted): its old readings go.
constexpr double kStaleSigmas = 4.0;
// A median of this many readings survives one outlier.
constexpr std::size_t kRobustReadings = 3;
// Something must rise this far above the minimum for there to be one.
constexpr double kRiseSigmas = 5.0;
// Noise is pooled from at least this many reading-to-reading differences.
constexpr std::size_t kMinDifferences = 6;
// Sigma of a normal from the median absolute difference of two readings.
constexpr double kMadDifference = 0.6745 * 1.41421356;
// The outlier gate judges noise by the lower quartile of those differences,
// which the outliers it looks for cannot inflate.
constexpr double kGateQuantile = 0.25;
constexpr double kLowDifference = 0.3186 * 1.41421356;
// Standard error of a median of three or more, against a mean.
constexpr double kMedianEfficiency = 1.2533;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Thrown when the moves or readings run out.
struct LimitReached {};

class Search {
public:
    Search(const SearchConfig& config, const Probe& probe) : config_(config), probe_(probe)
    {
        if (config.lo >= config.hi) throw std::invalid_argument("empty value range");
        if (config.samples == 0) throw std::invalid_argument("no readings per measurement");
        maxSamples_ = std::max(config.maxSamples, config.samples);
        farReadings_ = std::min(kFarReadings, config.samples);
    }

    SearchResult run()
    {
        try {
            start();
            result_.outcome = converge();
        } catch (const LimitReached&) {
            result_.outcome = SearchOutcome::Limit;
        }
        if (points_.empty()) return result_;
        const int b = result_.outcome == SearchOutcome::Confirmed ? fitted(lowest()) : lowest();
        if (!risesAnywhere(b)) result_.outcome = SearchOutcome::NoMinimum;
        describe(b);
        return result_;
    }

private:
    int lo() const { return static_cast<int>(config_.lo); }
    int hi() const { return static_cast<int>(config_.hi); }
    int clampValue(double v) const
    {
        return std::clamp(static_cast<int>(std::lround(v)), lo(), hi());
    }
    bool measured(int v) const { return points_.count(v) != 0; }
    double level(int v) const { return median(points_.at(v)); }
    unsigned count(int v) const { return static_cast<unsigned>(points_.at(v).size()); }

    void measure(int v, unsigned readings)
    {
        if (v != current_ && result_.moves >= config_.maxMoves) throw LimitReached{};
        readings = std::min(readings,
                            config_.maxReadings - std::min(config_.maxReadings, result_.readings));
        if (readings == 0) throw LimitReached{};
        const bool revisit = v != current_ && measured(v);
        if (v != current_) ++result_.moves;
        current_ = v;
        const std::vector<double> taken = probe_(static_cast<unsigned>(v), readings);
        result_.readings += static_cast<unsigned>(taken.size());
        result_.measurements.push_back(
            {static_cast<unsigned>(v), median(taken), static_cast<unsigned>(taken.size())});
        std::vector<double>& all = points_[v];
        if (revisit && taken.size() >= kRobustReadings && moved(all, taken)) all.clear();
        all.insert(all.end(), taken.begin(), taken.end());
    }

    // Two readings that disagree by more than the noise allows hold an
    // outlier; a third makes the median robust to it.
    void measureRobustly(int v, unsigned readings)
    {
        measure(v, readings);
        const std::vector<double>& all = points_.at(v);
        if (all.size() != 2) return;
        const double sigma = noiseAt(level(v), v, kGateQuantile);
        const double apart = std::abs(all[1] - all[0]);
        if (std::isnan(sigma) ? apart > 0 : apart > kOutlierSigmas * sigma) measure(v, 1);
    }

    bool moved(const std::vector<double>& before, const std::vector<double>& now) const
    {
        const double shift = std::abs(median(now) - median(before));
        const double sigma = noiseAt(median(before), std::numeric_limits<int>::min());
        if (std::isnan(sigma) || sigma == 0) return shift > 0;
        return shift > kStaleSigmas * sigma *
                           std::sqrt(1.0 / static_cast<double>(now.size()) +
                                     1.0 / static_cast<double>(before.size()));
    }

    // A reading's spread near `level`, from the reading-to-reading
    // differences of the points nearest that level (so that a meter in dB or
    // power units, whose noise changes along the curve, is judged where it
    // matters); NaN before there are any. `skip` leaves one point out.
    double noiseAt(double target, int skip, double quantile = 0.5) const
    {
        std::vector<std::pair<double, int>> byLevel;
        for (const auto& [v, readings] : points_) {
            if (v != skip && readings.size() > 1)
                byLevel.push_back({std::abs(level(v) - target), v});
        }
        std::sort(byLevel.begin(), byLevel.end());
        std::vector<double> differences;
        for (const auto& entry : byLevel) {
            const std::vector<double>& r = points_.at(entry.second);
            for (std::size_t i = 1; i < r.size(); ++i)
                differences.push_back(std::abs(r[i] - r[i - 1]));
            if (differences.size() >= kMinDifferences) break;
        }
        if (differences.empty()) return std::numeric_limits<double>::quiet_NaN();
        const auto at = differences.begin() + std::lround(quantile * (differences.size() - 1));
        std::nth_element(differences.begin(), at, differences.end());
        return *at / (quantile == 0.5 ? kMadDifference : kLowDifference);
    }

    double stdError(int v) const
    {
        const double sigma = noiseAt(level(v), std::numeric_limits<int>::min());
        if (std::isnan(sigma)) return 0;
        const unsigned n = count(v);
        return (n >= 3 ? kMedianEfficiency : 1.0) * sigma / std::sqrt(static_cast<double>(n));
    }

    // How many standard errors `v` lies above `b`; infinite for a clear rise
    // on a meter without noise.
    double rise(int v, int b) const
    {
        const double difference = level(v) - level(b);
        const double se = std::hypot(stdError(v), stdError(b));
        if (se == 0) return difference > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return difference / se;
    }

    int lowest() const
    {
        return std::min_element(
                   points_.begin(), points_.end(),
                   [this](const auto& a, const auto& b) { return level(a.first) < level(b.first); })
            ->first;
    }

    // The nearest measured values either side of `v`, or one past the range.
    std::pair<int, int> around(int v) const
    {
        const auto it = points_.find(v);
        const int left = it == points_.begin() ? lo() - 1 : std::prev(it)->first;
        const auto next = std::next(it);
        const int right = next == points_.end() ? hi() + 1 : next->first;
        return {left, right};
    }

    void start()
    {
        double a = lo(), c = hi();
        if (config_.seedMean && config_.seedSigma) {
            const double center = std::clamp(*config_.seedMean, a, c);
            const double half = std::max(kSeedSigmas * *config_.seedSigma, kMinSeedHalfWidth);
            a = std::max(a, center - half);
            c = std::min(c, center + half);
        }
        const int first = clampValue(a + kGolden * (c - a));
        int second = clampValue(c - kGolden * (c - a));
        if (second == first) second = first < hi() ? first + 1 : first - 1;
        measureRobustly(first, farReadings_);
        measureRobustly(second, farReadings_);
    }

    SearchOutcome converge()
    {
        std::vector<int> widths;
        for (;;) {
            const int b = lowest();
            const auto [left, right] = around(b);
            if (b - left > 1 || right - b > 1) {
                widths.push_back(right - left);
                const int next = nextPoint(b, left, right, widths);
                measureRobustly(next,
                                std::abs(next - b) < kNearCodes ? config_.samples : farReadings_);
                continue;
            }
            const std::optional<SearchOutcome> done = confirmStep(b);
            if (done) return *done;
        }
    }

    int nextPoint(int b, int left, int right, const std::vector<int>& widths)
    {
        const std::optional<double> proposal = propose(b, left, right);
        const std::size_t n = widths.size();
        const bool shrinking = n < 3 || widths[n - 1] <= kModelShrink * widths[n - 3];
        if (proposal && shrinking) {
            int v = static_cast<int>(std::lround(*proposal));
            if (v == b) v = b - left >= right - b ? b - 1 : b + 1;
            if (v > left && v < right && !measured(v)) return v;
        }
        // A golden step into the wider gap; towards an unmeasured range end
        // no further than the growth of the measured span.
        const bool toLeft = b - left >= right - b;
        const int gap = toLeft ? b - left : right - b;
        double step = std::max(1.0, std::round(kGolden * gap));
        if (toLeft ? left < lo() : right > hi()) {
            const double span = points_.rbegin()->first - points_.begin()->first;
            step = std::min(step, std::max(1.0, std::round(kGrowth * span)));
        }
        return toLeft ? b - static_cast<int>(step) : b + static_cast<int>(step);
    }

    // Where two straight arms through the nearest points would meet: one
    // line through each side's two nearest points, or, with one point a side,
    // both sides at the steeper of the two slopes the lowest point shows.
    std::optional<double> propose(int b, int left, int right)
    {
        if (left < lo() || right > hi()) return std::nullopt;
        const double yl = level(left), yr = level(right), yb = level(b);
        double slopeLeft = (yb - yl) / (b - left);
        double slopeRight = (yr - yb) / (right - b);
        const double steeper = std::max(-slopeLeft, slopeRight);
        slopeLeft = -steeper;
        slopeRight = steeper;
        const auto it = points_.find(left);
        const auto far = std::next(points_.find(right));
        if (it != points_.begin() && far != points_.end()) {
            const auto outer = std::prev(it);
            const double l = (yl - level(outer->first)) / (left - outer->first);
            const double r = (level(far->first) - yr) / (far->first - right);
            if (l < 0 && r > 0) {
                slopeLeft = l;
                slopeRight = r;
            }
        }
        if (!(slopeRight > 0) || !(slopeLeft < 0)) return std::nullopt;
        const double x =
            (yr - yl + slopeLeft * left - slopeRight * right) / (slopeLeft - slopeRight);
        result_.modelKind = "v";
        result_.modelCurve = {
            {double(left), yl}, {x, yl + slopeLeft * (x - left)}, {double(right), yr}};
        return std::clamp(x, double(left), double(right));
    }

    // One step of the confirmation around the lowest point `b`, whose
    // neighbours are measured: nullopt while it measures more. A side is
    // settled by a value within reach that rises clearly above `b`, by the
    // range end, or, when the readings the limits leave cannot tell its
    // values from `b`, by none of them being lower: on a flat bottom any of
    // the tied values is as good as the best code's neighbour, and walking
    // among them only spends updates.
    std::optional<SearchOutcome> confirmStep(int b)
    {
        for (int side : {-1, +1}) {
            if (b + side < lo() || b + side > hi()) continue;
            int farthest = b;
            bool rises = false;
            for (int d = 1; d <= kConfirmReach; ++d) {
                const int v = b + side * d;
                if (v < lo() || v > hi() || !measured(v)) break;
                if (count(v) < kRobustReadings) {
                    measure(v, static_cast<unsigned>(kRobustReadings) - count(v));
                    return std::nullopt;
                }
                farthest = v;
                rises = rises || rise(v, b) >= kConfidenceSigmas;
            }
            // Towards a range end, every value up to it not below will do.
            if (rises || farthest == (side < 0 ? lo() : hi())) continue;
            const int next = farthest + side;
            if (std::abs(next - b) <= kConfirmReach && next >= lo() && next <= hi() &&
                affordable(next, config_.samples)) {
                measure(next, config_.samples);
                return std::nullopt;
            }
            if (strengthen(b, farthest)) return std::nullopt;
        }
        if (current_ != b && reread_.insert(b).second && affordable(b, config_.samples)) {
            // Read again at the chosen value, where the panel is to be left
            // anyway: the curve may have moved since. Once per value, so that
            // two values too close to tell apart do not take turns.
            measure(b, config_.samples);
            return std::nullopt;
        }
        return SearchOutcome::Confirmed;
    }

    // Whether `readings` at `v` leave room, within the limits, for going
    // back to read the chosen value again.
    bool affordable(int v, unsigned readings) const
    {
        const unsigned moves = (v != current_) + 1;
        return result_.moves + moves <= config_.maxMoves &&
               result_.readings + readings + config_.samples <= config_.maxReadings;
    }

    // More readings, if noise could be what hides the rise: as many as would
    // show the rise seen so far at the confidence wanted, where they narrow
    // the comparison most for their cost (the value the panel is at costs
    // no update).
    bool strengthen(int b, int v)
    {
        if (stdError(b) == 0 && stdError(v) == 0) return false;
        int target = stdError(b) >= stdError(v) ? b : v;
        const int other = target == b ? v : b;
        if (other == current_ && stdError(other) >= kCheaperShare * stdError(target))
            target = other;
        const unsigned n = count(target);
        if (n >= maxSamples_) return false;
        const double z = std::max(rise(v, b), kMinRiseSeen);
        const double wanted = std::ceil(n * (kConfidenceSigmas / z) * (kConfidenceSigmas / z));
        double more = std::clamp(wanted - n, double(config_.samples), double(maxSamples_ - n));
        while (more > 0 && !affordable(target, static_cast<unsigned>(more))) --more;
        if (more == 0) return false;
        measure(target, static_cast<unsigned>(more));
        return true;
    }

    // On a flat bottom which of the tied values has the lowest median is
    // chance. A parabola through the medians near `b`, each weighted by its
    // readings, places the bottom with the readings of all of them; the
    // measured value nearest its vertex is taken when it is tied with `b`.
    int fitted(int b) const
    {
        double sx[5] = {}, sy[3] = {};
        int used = 0;
        for (int d = -kConfirmReach; d <= kConfirmReach; ++d) {
            if (!measured(b + d)) continue;
            const double w = count(b + d), y = level(b + d);
            double xk = 1;
            for (int k = 0; k < 5; ++k, xk *= d) {
                sx[k] += w * xk;
                if (k < 3) sy[k] += w * xk * y;
            }
            ++used;
        }
        if (used < kFitPoints) return b;
        // The normal equations of y = p + q x + r x^2, by Cramer's rule.
        const auto det = [](double a1, double a2, double a3, double b1, double b2, double b3,
                            double c1, double c2, double c3) {
            return a1 * (b2 * c3 - b3 * c2) - a2 * (b1 * c3 - b3 * c1) + a3 * (b1 * c2 - b2 * c1);
        };
        const double m = det(sx[0], sx[1], sx[2], sx[1], sx[2], sx[3], sx[2], sx[3], sx[4]);
        if (m == 0) return b;
        const double q = det(sx[0], sy[0], sx[2], sx[1], sy[1], sx[3], sx[2], sy[2], sx[4]) / m;
        const double r = det(sx[0], sx[1], sy[0], sx[1], sx[2], sy[1], sx[2], sx[3], sy[2]) / m;
        if (!(r > 0)) return b;
        const double vertex =
            std::clamp(-q / (2 * r), double(-kConfirmReach), double(kConfirmReach));
        const int v = clampValue(b + vertex);
        return measured(v) && rise(v, b) < kConfidenceSigmas ? v : b;
    }

    bool risesAnywhere(int b) const
    {
        return std::any_of(points_.begin(), points_.end(),
                           [&](const auto& entry) { return rise(entry.first, b) >= kRiseSigmas; });
    }

    PointEvidence evidence(int v, int b) const
    {
        const double se = std::hypot(stdError(v), stdError(b));
        const bool lower =
            level(v) < level(b) && (se == 0 || (level(b) - level(v)) / se >= kConfidenceSigmas);
        return {static_cast<unsigned>(v), level(v), stdError(v), count(v), lower};
    }

    void describe(int b)
    {
        result_.best = static_cast<unsigned>(b);
        result_.flicker = level(b);
        result_.atRangeEnd = b == lo() || b == hi();
        const double sigma = noiseAt(level(b), std::numeric_limits<int>::min());
        if (!std::isnan(sigma)) result_.noise = sigma;
        Confirmation confirmation{kConfidence, evidence(b, b), {}};
        for (int d = -kConfirmReach; d <= kConfirmReach; ++d) {
            if (d != 0 && measured(b + d)) confirmation.neighbours.push_back(evidence(b + d, b));
        }
        result_.confirmation = confirmation;
    }

    const SearchConfig& config_;
    const Probe& probe_;
    unsigned maxSamples_ = 0;
    unsigned farReadings_ = 0;
    std::map<int, std::vector<double>> points_;
    std::set<int> reread_;
    int current_ = std::numeric_limits<int>::min();
    SearchResult result_;
};

}  // namespace

SearchResult findOptimum(const SearchConfig& config, const Probe& probe)
{
    return Search(config, probe).run();
}

}  // namespace vcomcal
}  // namespace ze
