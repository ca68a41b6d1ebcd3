#pragma once
// A simulated panel that flickers, and the meter that watches it.
//
// The flicker amplitude against VCOM is a V with straight arms (each side
// its own slope) over a floor: sharp, floor + slope * |offset|, or rounded,
// sqrt(floor^2 + (slope * offset)^2). Every reading adds Gaussian noise and,
// now and then, an outlier of either sign to the amplitude; the meter then
// reports it on its own scale: linear, in dB, or as power. A warming panel's
// optimum drifts while it is measured. The meter reads the value the chip
// model actually holds, so a calibration against it runs through the
// driver's real writes and waits.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>

#include <ze/ic/chip_catalogue.h>
#include <ze/sim/panel.h>
#include <ze/vcomcal/meter.h>

namespace ze {
namespace vcomcal {

enum class FlickerShape {
    LinearV,   // a sharp V, reported linearly
    RoundedV,  // a contrast meter: the V's tip rounded
    Decibel,   // the sharp V in dB, as a JEITA-style meter reports it
    Power,     // the rounded V squared: a parabola near the bottom
};

const char* shapeName(FlickerShape shape);

struct FlickerPanel {
    double optimum = 128;     // in codes, need not be whole
    double slopeBelow = 0.5;  // amplitude per code below the optimum
    double slopeAbove = 0.5;
    double floor = 1.0;  // amplitude at the optimum
    FlickerShape shape = FlickerShape::RoundedV;
    double noise = 0.1;         // standard deviation of a reading's amplitude
    double outlierRate = 0.01;  // share of readings that are outliers
    double outlierSize = 3.0;   // their offset to the amplitude
    double drift = 0;           // codes the optimum moves as the panel warms up

    // The optimum after `readings` readings.
    double optimumAfter(unsigned readings) const;
    // Noise-free, on the linear scale, and as the meter reports it.
    double amplitude(double value, unsigned readings = 0) const;
    double reported(double amplitude) const;
    double flicker(double value, unsigned readings = 0) const;
    // The best whole code within [lo, hi] after `readings` readings.
    unsigned bestCode(unsigned lo, unsigned hi, unsigned readings = 0) const;
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

// Panels from every corner at once: the optimum anywhere in [lo, hi] (a
// share near either end, a share exactly on the first two or last two
// codes), every shape, arms up to `asymmetry`:1 either way, slopes and floors
// log-uniform, noise up to `noise` codes' worth of the steeper arm, a share
// without noise, outliers, and a share of panels that drift.
struct MixedPopulation {
    double lo = 0;
    double hi = 255;
    double endShare = 0.2;  // within `endReach` codes of an end, either side of it
    double endReach = 4;
    double edgeShare = 0.2;  // exactly on lo, lo + 1, hi - 1 or hi
    double slopeMin = 0.05;  // two decades
    double slopeMax = 5;
    double asymmetry = 3;
    double floorMin = 0.05;  // in codes' worth of the mean slope
    double floorMax = 5;
    double noise = 0.5;  // codes' worth of the steeper arm, at most
    double noiselessShare = 0.2;
    double outlierRateMax = 0.03;  // each panel's share, uniform from 0
    double outlierMin = 3;         // in codes' worth of the mean slope
    double outlierMax = 10;
    double driftShare = 0.5;
    double driftMax = 2;  // codes, either way, uniform from 0

    FlickerPanel draw(std::mt19937_64& random) const;
};

// What `chip` stores.
MixedPopulation mixedPopulationFor(const ze::ic::catalogue::ChipInfo& chip);

// The value the chip holds, as a read would return it; nullopt when it cannot tell.
using HeldValue = std::function<std::optional<unsigned>()>;

std::unique_ptr<Meter> simulatedMeter(const FlickerPanel& panel, std::uint64_t seed,
                                      HeldValue held);

// What the simulated panel's chip model holds, looked at without bus traffic
// or waits, as an optical probe watches the panel.
HeldValue heldValueOf(const ze::sim::Panel& panel);

}  // namespace vcomcal
}  // namespace ze
