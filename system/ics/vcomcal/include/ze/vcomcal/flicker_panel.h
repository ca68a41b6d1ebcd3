#pragma once
// A simulated panel that flickers, and the meter that watches it.
//
// Flicker is sqrt(floor^2 + (slope * (value - optimum))^2): straight arms
// (each side its own slope), rounded flat near the optimum, never below the
// floor. Every reading adds Gaussian noise and, now and then, an outlier of
// either sign. The meter reads the value the chip model actually holds, so
// a calibration against it runs through the driver's real writes and waits.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>

#include <ze/hal/vcom.h>
#include <ze/ic/chip_catalogue.h>
#include <ze/vcomcal/meter.h>

namespace ze {
namespace vcomcal {

struct FlickerPanel {
    double optimum = 128;     // in codes, need not be whole
    double slopeBelow = 0.5;  // flicker per code below the optimum
    double slopeAbove = 0.5;
    double floor = 1.0;         // flicker at the optimum
    double noise = 0.1;         // standard deviation of a reading
    double outlierRate = 0.01;  // share of readings that are outliers
    double outlierSize = 3.0;   // their offset

    double flicker(double value) const;
    // The best whole code within [lo, hi].
    unsigned bestCode(unsigned lo, unsigned hi) const;
};

// Panels as a production line sees them: the optimum from a normal
// distribution, slopes and floor varying around typical values.
struct PanelPopulation {
    double optimumMean = 128;
    double optimumSigma = 12;
    double slope = 0.5;
    double slopeSpread = 0.2;  // each side's slope is slope * (1 +- this), uniform
    double floor = 1.0;
    double noise = 0.1;
    double outlierRate = 0.01;
    double outlierSize = 3.0;

    FlickerPanel draw(std::mt19937_64& random) const;
};

// A line of panels for `chip`: optima around the middle of what it stores.
PanelPopulation populationFor(const ze::ic::catalogue::ChipInfo& chip);

// The value the chip holds, as a read would return it; nullopt when it cannot tell.
using HeldValue = std::function<std::optional<unsigned>()>;

std::unique_ptr<Meter> simulatedMeter(const FlickerPanel& panel, std::uint64_t seed,
                                      HeldValue held);

// Until the simulated board tells the value its chip holds
// (ze::sim::heldValue), the driver's own read stands in for it. It costs a
// read's bus traffic and waits per reading; a read that fails shows as 0.
HeldValue heldValueByDriverRead(ze::hal::Vcom& vcom);

}  // namespace vcomcal
}  // namespace ze
