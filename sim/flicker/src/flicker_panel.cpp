#include <ze/sim/flicker_panel.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ze {
namespace vcomcal {
namespace {

// A line's optima spread over this fraction (one sigma) of the stored range.
constexpr double kOptimumSpread = 20.0;
// A warming panel's drift reaches 1 - 1/e of its size after this many readings.
constexpr double kWarmUpReadings = 20;
constexpr double kDecibels = 20;
// The dB of an amplitude of zero would be minus infinity.
constexpr double kSmallestAmplitude = 1e-9;

bool roundedTip(FlickerShape shape)
{
    return shape == FlickerShape::RoundedV || shape == FlickerShape::Power;
}

double logUniform(std::mt19937_64& random, double lo, double hi)
{
    return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(random));
}

}  // namespace

const char* shapeName(FlickerShape shape)
{
    switch (shape) {
        case FlickerShape::LinearV:
            return "linear V";
        case FlickerShape::RoundedV:
            return "rounded V";
        case FlickerShape::Decibel:
            return "dB";
        case FlickerShape::Power:
            break;
    }
    return "power";
}

double FlickerPanel::optimumAfter(unsigned readings) const
{
    return optimum + drift * (1 - std::exp(-double(readings) / kWarmUpReadings));
}

double FlickerPanel::amplitude(double value, unsigned readings) const
{
    const double offset = value - optimumAfter(readings);
    const double rise = (offset < 0 ? slopeBelow : slopeAbove) * std::abs(offset);
    return roundedTip(shape) ? std::hypot(floor, rise) : floor + rise;
}

double FlickerPanel::reported(double a) const
{
    if (shape == FlickerShape::Decibel)
        return kDecibels * std::log10(std::max(a, kSmallestAmplitude));
    return shape == FlickerShape::Power ? a * a : a;
}

double FlickerPanel::flicker(double value, unsigned readings) const
{
    return reported(amplitude(value, readings));
}

unsigned FlickerPanel::bestCode(unsigned lo, unsigned hi, unsigned readings) const
{
    const double at = std::clamp(optimumAfter(readings), double(lo), double(hi));
    const double below = std::floor(at), above = std::ceil(at);
    const double best = amplitude(below, readings) <= amplitude(above, readings) ? below : above;
    return static_cast<unsigned>(best);
}

FlickerPanel PanelPopulation::draw(std::mt19937_64& random) const
{
    std::normal_distribution<double> optimumOf(optimumMean, optimumSigma);
    std::uniform_real_distribution<double> spread(1 - slopeSpread, 1 + slopeSpread);
    FlickerPanel panel;
    panel.optimum = optimumOf(random);
    panel.slopeBelow = slope * spread(random);
    panel.slopeAbove = slope * spread(random);
    panel.floor = floor;
    panel.noise = noise;
    panel.outlierRate = outlierRate;
    panel.outlierSize = outlierSize;
    return panel;
}

PanelPopulation populationFor(const ze::ic::catalogue::ChipInfo& chip)
{
    PanelPopulation population;
    population.optimumMean = chip.saveMax / 2.0;
    population.optimumSigma = chip.saveMax / kOptimumSpread;
    return population;
}

FlickerPanel MixedPopulation::draw(std::mt19937_64& random) const
{
    std::uniform_real_distribution<double> unit(0, 1);
    FlickerPanel panel;
    const double where = unit(random);
    if (where < edgeShare) {
        const double edges[] = {lo, lo + 1, hi - 1, hi};
        panel.optimum = edges[random() % std::size(edges)];
    } else if (where < edgeShare + endShare) {
        const double offset = (2 * unit(random) - 1) * endReach;
        panel.optimum = (unit(random) < 0.5 ? lo : hi) + offset;
    } else {
        panel.optimum = lo + unit(random) * (hi - lo);
    }
    panel.shape = static_cast<FlickerShape>(random() % 4);
    const double slope = logUniform(random, slopeMin, slopeMax);
    const double ratio = std::sqrt(logUniform(random, 1 / asymmetry, asymmetry));
    panel.slopeBelow = slope * ratio;
    panel.slopeAbove = slope / ratio;
    const double mean = (panel.slopeBelow + panel.slopeAbove) / 2;
    const double steeper = std::max(panel.slopeBelow, panel.slopeAbove);
    panel.floor = mean * logUniform(random, floorMin, floorMax);
    panel.noise = unit(random) < noiselessShare ? 0 : steeper * noise * unit(random);
    panel.outlierRate = outlierRateMax * unit(random);
    panel.outlierSize = mean * (outlierMin + unit(random) * (outlierMax - outlierMin));
    if (unit(random) < driftShare) panel.drift = driftMax * (2 * unit(random) - 1);
    return panel;
}

MixedPopulation mixedPopulationFor(const ze::ic::catalogue::ChipInfo& chip)
{
    MixedPopulation population;
    population.hi = std::min(chip.updateMax, chip.saveMax);
    return population;
}

namespace {

class SimulatedMeter : public Meter {
public:
    SimulatedMeter(const FlickerPanel& panel, std::uint64_t seed, HeldValue held)
        : panel_(panel), random_(seed), held_(std::move(held))
    {
    }

    double read(unsigned) override
    {
        const std::optional<unsigned> value = held_();
        if (!value) throw MeterError("simulated meter: the chip model holds no readable value");
        double a = panel_.amplitude(*value, readings_++) + noise_(random_) * panel_.noise;
        if (chance_(random_) < panel_.outlierRate) {
            a += (chance_(random_) < 0.5 ? -1 : 1) * panel_.outlierSize;
        }
        return panel_.reported(std::abs(a));
    }

private:
    FlickerPanel panel_;
    std::mt19937_64 random_;
    HeldValue held_;
    unsigned readings_ = 0;
    std::normal_distribution<double> noise_;
    std::uniform_real_distribution<double> chance_;
};

}  // namespace

std::unique_ptr<Meter> simulatedMeter(const FlickerPanel& panel, std::uint64_t seed, HeldValue held)
{
    return std::make_unique<SimulatedMeter>(panel, seed, std::move(held));
}

HeldValue heldValueOf(const ze::sim::Panel& panel)
{
    return [panel] { return ze::sim::heldValue(panel); };
}

}  // namespace vcomcal
}  // namespace ze
