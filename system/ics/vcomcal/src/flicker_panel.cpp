#include <ze/vcomcal/flicker_panel.h>

#include <algorithm>
#include <cmath>

namespace ze {
namespace vcomcal {
namespace {

// A line's optima spread over this fraction (one sigma) of the stored range.
constexpr double kOptimumSpread = 20.0;

}  // namespace

double FlickerPanel::flicker(double value) const
{
    const double offset = value - optimum;
    const double rise = (offset < 0 ? slopeBelow : slopeAbove) * offset;
    return std::sqrt(floor * floor + rise * rise);
}

unsigned FlickerPanel::bestCode(unsigned lo, unsigned hi) const
{
    const double nearest = std::round(std::clamp(optimum, double(lo), double(hi)));
    return static_cast<unsigned>(nearest);
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
        double reading = panel_.flicker(*value) + noise_(random_) * panel_.noise;
        if (chance_(random_) < panel_.outlierRate) {
            reading += (chance_(random_) < 0.5 ? -1 : 1) * panel_.outlierSize;
        }
        return reading;
    }

private:
    FlickerPanel panel_;
    std::mt19937_64 random_;
    HeldValue held_;
    std::normal_distribution<double> noise_;
    std::uniform_real_distribution<double> chance_;
};

}  // namespace

std::unique_ptr<Meter> simulatedMeter(const FlickerPanel& panel, std::uint64_t seed, HeldValue held)
{
    return std::make_unique<SimulatedMeter>(panel, seed, std::move(held));
}

HeldValue heldValueByDriverRead(ze::hal::Vcom& vcom)
{
    return [&vcom]() -> std::optional<unsigned> { return vcom.u1DrvReadVcom(); };
}

}  // namespace vcomcal
}  // namespace ze
