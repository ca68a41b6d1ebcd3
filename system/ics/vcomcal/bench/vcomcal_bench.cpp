// Calibration of simulated production lines, one per chip: the closed-loop
// search against a full sweep and against a window from the line's
// statistics checked at three points, then swept. Every panel runs through
// the real driver; its waits advance the virtual clock of tests/support.
//
//   vcomcal-bench [PANELS [SEED]]      a Markdown table on stdout

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/flicker_panel.h>

#include "sim_rig.h"

namespace {

using namespace ze::vcomcal;
using ze::ic::catalogue::ChipInfo;

constexpr unsigned kDefaultPanels = 1000;
constexpr unsigned kReadings = 3;
constexpr double kWindowSigmas = 3.0;  // the window method's M
constexpr double kUs = 1e6;

struct Outcome {
    unsigned best;
    unsigned updates;
};

// What the two sweeping methods share: set, settle, read, keep the lowest.
struct Sweeper {
    ze::hal::Vcom& vcom;
    Meter& meter;
    std::uint64_t& settleUs;
    unsigned updates = 0;
    unsigned best = 0;
    double bestFlicker = INFINITY;

    double at(unsigned v)
    {
        vcom.u1DrvUpdataVcom(static_cast<unsigned short>(v));
        ++updates;
        settleUs += kDefaultSettleUs;
        std::vector<double> r;
        for (unsigned i = 0; i < kReadings; ++i) r.push_back(meter.read(v));
        std::nth_element(r.begin(), r.begin() + r.size() / 2, r.end());
        if (r[r.size() / 2] < bestFlicker) {
            bestFlicker = r[r.size() / 2];
            best = v;
        }
        return r[r.size() / 2];
    }
    void sweep(unsigned from, unsigned to)
    {
        for (unsigned v = from; v <= to; ++v) at(v);
    }
};

using Method = std::function<Outcome(ze::hal::Vcom&, Meter&, const ChipInfo&, const LineStats&,
                                     std::uint64_t& settleUs)>;

Outcome closedLoop(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats& line,
                   std::uint64_t& settleUs)
{
    CalibrationConfig config;
    config.chip = &chip;
    config.search.samples = kReadings;
    config.save = false;
    config.sleep = [&settleUs](std::uint64_t us) { settleUs += us; };
    seedFromLine(config.search, line);
    const CalibrationReport report = calibrate(vcom, meter, config);
    if (!report.ok) throw std::runtime_error(report.error);
    return {report.best, report.updates};
}

Outcome fullSweep(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats&,
                  std::uint64_t& settleUs)
{
    Sweeper s{vcom, meter, settleUs};
    s.sweep(0, chip.updateMax);
    return {s.best, s.updates};
}

// Window mean +- M sigma from the line; if an end of it reads lowest the
// optimum lies outside, and the whole range is swept.
Outcome windowSweep(ze::hal::Vcom& vcom, Meter& meter, const ChipInfo& chip, const LineStats& line,
                    std::uint64_t& settleUs)
{
    Sweeper s{vcom, meter, settleUs};
    if (line.count() < kMinSeedPanels) {
        s.sweep(0, chip.updateMax);
        return {s.best, s.updates};
    }
    const double half = kWindowSigmas * std::sqrt(line.variance());
    const auto clampCode = [&](double v) {
        return static_cast<unsigned>(std::clamp(std::lround(v), 0L, long(chip.updateMax)));
    };
    const unsigned lo = clampCode(line.mean() - half), hi = clampCode(line.mean() + half);
    const double fLo = s.at(lo), fMid = s.at(clampCode(line.mean())), fHi = s.at(hi);
    if (fMid > std::min(fLo, fHi)) {
        s.sweep(0, chip.updateMax);
    } else {
        s.sweep(lo, hi);
    }
    return {s.best, s.updates};
}

struct Row {
    unsigned accurate = 0;
    std::vector<unsigned> updates;
    double chipWaitUs = 0;
    double settleUs = 0;
};

Row runLine(const ChipInfo& chip, const Method& method, unsigned panels, std::uint64_t seed)
{
    ze::vcomcal::test::SimRig rig(static_cast<ze::sim::ChipType>(chip.typeIdx));
    const PanelPopulation population = populationFor(chip);
    std::mt19937_64 random(seed);
    LineStats line;
    Row row;
    for (unsigned i = 0; i < panels; ++i) {
        const FlickerPanel panel = population.draw(random);
        // The stand-in read of the held value costs bus time a real meter does not.
        std::uint64_t probeUs = 0;
        HeldValue held = heldValueByDriverRead(rig.vcom());
        auto meter = simulatedMeter(panel, random(), [&] {
            const std::uint64_t before = ze::test::nowUs();
            const auto value = held();
            probeUs += ze::test::nowUs() - before;
            return value;
        });
        ze::test::resetClock();
        std::uint64_t settleUs = 0;
        const Outcome out = method(rig.vcom(), *meter, chip, line, settleUs);
        const double chipWaitUs = double(ze::test::nowUs() - probeUs);
        const long miss = long(out.best) - long(panel.bestCode(0, chip.updateMax));
        row.accurate += std::labs(miss) <= 1;
        row.updates.push_back(out.updates);
        row.chipWaitUs += chipWaitUs;
        row.settleUs += settleUs;
        line.add(out.best);
    }
    return row;
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
    std::printf(
        "| chip | method | within +-1 | updates median / worst | chip waits s/panel | "
        "with settling s/panel |\n|---|---|---|---|---|---|\n");
    for (const ChipInfo& chip : ze::ic::catalogue::kChips) {
        for (const auto& [name, method] : methods) {
            Row row = runLine(chip, method, panels, seed);
            std::sort(row.updates.begin(), row.updates.end());
            std::printf("| %s | %s | %.1f%% | %u / %u | %.2f | %.2f |\n", chip.label, name,
                        100.0 * row.accurate / panels, row.updates[panels / 2], row.updates.back(),
                        row.chipWaitUs / panels / kUs,
                        (row.chipWaitUs + row.settleUs) / panels / kUs);
            std::fflush(stdout);
        }
    }
    return 0;
}
