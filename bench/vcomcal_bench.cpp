// Calibration of simulated production lines, one per chip, with panels from
// every corner at once (shape, optimum position, asymmetry, slope, noise,
// outliers, drift): the closed-loop search against a full sweep and against
// a window from the line's statistics checked at three points, then swept.
// Every panel runs through the real driver; its waits advance the virtual
// clock of tests/support.
//
//   vcomcal-bench [PANELS [SEED [NAME=VALUE...]]]   Markdown tables on stdout

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <ze/sim/flicker_panel.h>
#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/engine.h>

#include "sim_rig.h"

namespace {

using namespace ze::vcomcal;
using ze::ic::catalogue::ChipInfo;

constexpr unsigned kDefaultPanels = 750;
constexpr unsigned kReadings = 3;
constexpr double kWindowSigmas = 3.0;  // the window method's M
constexpr double kUs = 1e6;
constexpr double kNearEnd = 4;
constexpr double kSteeper = 1.5;  // an arm this much steeper counts as asymmetric

struct Outcome {
    bool ok;
    unsigned best;
    unsigned updates;
    unsigned readings;
};

// What the two sweeping methods share: set, settle, read, keep the lowest.
struct Sweeper {
    ze::hal::Vcom& vcom;
    Meter& meter;
    Outcome out{true, 0, 0, 0};
    double bestFlicker = INFINITY;

    double at(unsigned v)
    {
        vcom.u1DrvUpdataVcom(static_cast<unsigned short>(v));
        ++out.updates;
        std::vector<double> r;
        for (unsigned i = 0; i < kReadings; ++i) r.push_back(meter.read(v));
        out.readings += kReadings;
        std::nth_element(r.begin(), r.begin() + r.size() / 2, r.end());
        if (r[r.size() / 2] < bestFlicker) {
            bestFlicker = r[r.size() / 2];
            out.best = v;
        }
        return r[r.size() / 2];
    }
    Outcome sweep(unsigned from, unsigned to)
    {
        for (unsigned v = from; v <= to; ++v) at(v);
        return out;
    }
};

using Method = std::function<Outcome(ze::hal::Vcom&, Meter&, const ChipInfo&, const LineStats&)>;

Outcome closedLoop(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats& line)
{
    CalibrationConfig config;
    config.chip = &chip;
    config.save = false;
    config.sleep = [](std::uint64_t) {};
    seedFromLine(config.search, line);
    const CalibrationReport report = calibrate(vcom, meter, config);
    return {report.ok, report.best, report.updates, report.readings};
}

unsigned stored(const ChipInfo& chip)
{
    return std::min(chip.updateMax, chip.saveMax);
}

Outcome fullSweep(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats&)
{
    return Sweeper{vcom, meter}.sweep(0, stored(chip));
}

// Window mean +- M sigma from the line; if an end of it reads lowest the
// optimum lies outside, and the whole range is swept.
Outcome windowSweep(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats& line)
{
    Sweeper s{vcom, meter};
    if (line.count() < kMinSeedPanels) return s.sweep(0, stored(chip));
    const double half = kWindowSigmas * std::sqrt(line.variance());
    const auto clampCode = [&](double v) {
        return static_cast<unsigned>(std::clamp(std::lround(v), 0L, long(stored(chip))));
    };
    const unsigned lo = clampCode(line.mean() - half), hi = clampCode(line.mean() + half);
    const double fLo = s.at(lo), fMid = s.at(clampCode(line.mean())), fHi = s.at(hi);
    return fMid > std::min(fLo, fHi) ? s.sweep(0, stored(chip)) : s.sweep(lo, hi);
}

// Within one code of the best code at the time of the save, or no worse
// than the best code's worse neighbour.
bool acceptable(const FlickerPanel& panel, unsigned hi, const Outcome& out)
{
    const unsigned best = panel.bestCode(0, hi, out.readings);
    if (!out.ok) return false;
    if (std::abs(int(out.best) - int(best)) <= 1) return true;
    double worse = 0;
    for (unsigned v : {best - 1, best + 1}) {
        if (v <= hi) worse = std::max(worse, panel.amplitude(v, out.readings));
    }
    return panel.amplitude(out.best, out.readings) <= worse;
}

struct Row {
    unsigned panels = 0;
    unsigned good = 0;
    std::vector<unsigned> updates;
    std::vector<unsigned> readings;
    double waitUs = 0;

    void add(bool ok, const Outcome& out, double us)
    {
        ++panels;
        good += ok;
        updates.push_back(out.updates);
        readings.push_back(out.readings);
        waitUs += us + out.updates * double(kDefaultSettleUs);
    }
    void print(const std::string& name)
    {
        std::sort(updates.begin(), updates.end());
        std::sort(readings.begin(), readings.end());
        std::printf("| %s | %u | %.2f%% | %u / %u | %u / %u | %.2f |\n", name.c_str(), panels,
                    100.0 * good / panels, updates[panels / 2], updates.back(),
                    readings[panels / 2], readings.back(), waitUs / panels / kUs);
    }
};

// The rows of the factors a panel belongs to.
std::vector<std::string> factors(const FlickerPanel& p, double hi)
{
    const double ratio = p.slopeBelow / p.slopeAbove;
    const double slope = (p.slopeBelow + p.slopeAbove) / 2;
    const double noise = p.noise / std::max(p.slopeBelow, p.slopeAbove);
    const double floor = p.floor / slope;
    const double fromEnd = std::min(std::abs(p.optimum), std::abs(p.optimum - hi));
    const double drift = std::abs(p.drift);
    return {std::string("shape ") + shapeName(p.shape),
            ratio > kSteeper       ? "steeper below"
            : ratio < 1 / kSteeper ? "steeper above"
                                   : "arms within 1.5:1",
            slope < 0.5 ? "slope < 0.5" : "slope >= 0.5",
            floor < 0.5 ? "floor < 0.5 code"
            : floor < 2 ? "floor 0.5-2 codes"
                        : "floor >= 2 codes",
            noise == 0      ? "noise 0"
            : noise <= 0.25 ? "noise <= 0.25 code"
                            : "noise > 0.25 code",
            p.outlierRate < 0.01   ? "outliers < 1 %"
            : p.outlierRate < 0.02 ? "outliers 1-2 %"
                                   : "outliers >= 2 %",
            fromEnd == 0 || fromEnd == 1 ? "optimum on 0, 1, hi-1 or hi"
            : fromEnd <= kNearEnd        ? "optimum within 4 codes of an end"
                                         : "optimum inside",
            drift == 0   ? "no drift"
            : drift <= 1 ? "drifting <= 1 code"
                         : "drifting 1-2 codes"};
}

// NAME=VALUE arguments that change the population; `sweeps=0` leaves the
// sweeping methods out.
bool configure(MixedPopulation& population, bool& sweeps, const std::string& arg)
{
    static const std::map<std::string, double MixedPopulation::*> fields = {
        {"endShare", &MixedPopulation::endShare},
        {"edgeShare", &MixedPopulation::edgeShare},
        {"slopeMin", &MixedPopulation::slopeMin},
        {"slopeMax", &MixedPopulation::slopeMax},
        {"asymmetry", &MixedPopulation::asymmetry},
        {"floorMin", &MixedPopulation::floorMin},
        {"floorMax", &MixedPopulation::floorMax},
        {"noise", &MixedPopulation::noise},
        {"noiselessShare", &MixedPopulation::noiselessShare},
        {"outlierRateMax", &MixedPopulation::outlierRateMax},
        {"outlierMin", &MixedPopulation::outlierMin},
        {"outlierMax", &MixedPopulation::outlierMax},
        {"driftShare", &MixedPopulation::driftShare},
        {"driftMax", &MixedPopulation::driftMax}};
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = arg.substr(0, eq);
    const double value = std::strtod(arg.c_str() + eq + 1, nullptr);
    if (name == "sweeps") {
        sweeps = value != 0;
        return true;
    }
    const auto field = fields.find(name);
    if (field == fields.end()) return false;
    population.*(field->second) = value;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // The driver's messages would drown the table.
    setenv("ZE_DEBUG_LEVEL", "none", 0);
    const unsigned panels = argc > 1 ? unsigned(std::strtoul(argv[1], nullptr, 0)) : kDefaultPanels;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 1;
    const std::pair<const char*, Method> methods[] = {
        {"closed loop", closedLoop}, {"window + sweep", windowSweep}, {"full sweep", fullSweep}};
    MixedPopulation overrides;
    bool sweeps = true;
    for (int i = 3; i < argc; ++i) {
        if (!configure(overrides, sweeps, argv[i])) {
            std::fprintf(stderr,
                         "vcomcal-bench: bad population setting '%s'; NAME=VALUE with a "
                         "MixedPopulation field, or sweeps=0\n",
                         argv[i]);
            return 2;
        }
    }
    std::map<std::string, Row> byFactor;
    const std::vector<std::string> no;
    std::printf(
        "| line | panels | success | updates median / worst | readings median / worst | s/panel "
        "with settling |\n|---|---|---|---|---|---|\n");
    for (const ChipInfo& chip : ze::ic::catalogue::kChips) {
        ze::vcomcal::test::SimRig rig(chip.name);
        MixedPopulation population = overrides;
        population.hi = mixedPopulationFor(chip).hi;
        for (const auto& [name, method] : methods) {
            if (!sweeps && &method != &methods[0].second) continue;
            const bool closed = &method == &methods[0].second;
            std::mt19937_64 random(seed * 1000 + chip.typeIdx);
            LineStats line;
            Row row;
            for (unsigned i = 0; i < panels; ++i) {
                const FlickerPanel panel = population.draw(random);
                auto meter = simulatedMeter(panel, random(), heldValueOf(rig.panel()));
                ze::test::resetClock();
                const Outcome out = method(rig.vcom(), *meter, chip, line);
                const bool ok = acceptable(panel, population.hi, out);
                row.add(ok, out, double(ze::test::nowUs()));
                if (out.ok) line.add(out.best);
                for (const std::string& f : closed ? factors(panel, population.hi) : no) {
                    byFactor[f].add(ok, out, double(ze::test::nowUs()));
                }
            }
            row.print(std::string(chip.label) + ", " + name);
            std::fflush(stdout);
        }
    }
    for (auto& [name, row] : byFactor) row.print("closed loop, " + name);
    return 0;
}
