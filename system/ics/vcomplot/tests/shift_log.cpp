// A simulated shift for the line report: panels of a few chips calibrated
// through the real driver on the virtual clock, optima drifting through the
// shift, a meter that now and then times out and one that grows noisy. Fixed
// seed and fixed times: the same log on every run.
//
//   vcomplot-shift PANELS_PER_CHIP [SEED [CHIP ...]]   JSON lines on stdout

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <ze/sim/flicker_panel.h>
#include <ze/test/virtual_clock.h>
#include <ze/vcomcal/engine.h>
#include <ze/vcomcal/report.h>

#include "sim_rig.h"

namespace {

using namespace ze::vcomcal;

constexpr std::time_t kShiftStart = 1772431200;  // 2026-03-02 06:00 UTC
constexpr double kShiftSeconds = 8 * 3600;
constexpr double kDriftCodes = 8;           // the optimum's move over the shift
constexpr double kMeterTimeoutRate = 0.04;  // of panels
constexpr double kNoisyChipGrowth = 4;      // the last chip's meter noise, end over start
constexpr unsigned kReadings = 3;

class ShiftMeter : public Meter {
public:
    ShiftMeter(const FlickerPanel& panel, std::mt19937_64& random, bool timesOut)
        : panel_(panel), random_(random), failAt_(timesOut ? 5 + random() % 20 : 0)
    {
    }
    double noise() const { return panel_.noise; }
    double read(unsigned value) override
    {
        if (++readings_ == failAt_) throw MeterError("meter timed out after 10000 ms");
        std::normal_distribution<double> noise(0, panel_.noise);
        return panel_.flicker(value) + noise(random_);
    }

private:
    FlickerPanel panel_;
    std::mt19937_64& random_;
    unsigned failAt_;
    unsigned readings_ = 0;
};

std::string utc(double t)
{
    const std::time_t s = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&s, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("ZE_DEBUG_LEVEL", "none", 0);
    if (argc < 2) {
        std::cerr << "usage: vcomplot-shift PANELS_PER_CHIP [SEED [CHIP ...]]\n";
        return 2;
    }
    const unsigned panels = unsigned(std::strtoul(argv[1], nullptr, 0));
    std::mt19937_64 random(argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 1);
    std::vector<std::string> names(argv + std::min(argc, 3), argv + argc);
    if (names.empty()) names = {"auo", "in525", "g1625"};
    for (std::size_t c = 0; c < names.size(); ++c) {
        const ze::ic::catalogue::ChipInfo* chip = ze::ic::catalogue::byName(names[c].c_str());
        if (chip == nullptr) {
            std::cerr << "vcomplot-shift: unknown chip '" << names[c] << "'\n";
            return 2;
        }
        ze::vcomcal::test::SimRig rig(chip->name);
        PanelPopulation population = populationFor(*chip);
        const double mean = population.optimumMean, noise = population.noise;
        LineStats line;
        for (unsigned i = 0; i < panels; ++i) {
            const double progress = double(i) / std::max(1u, panels);
            population.optimumMean = mean + kDriftCodes * progress;
            const bool noisy = c + 1 == names.size();
            population.noise = noise * (noisy ? 1 + (kNoisyChipGrowth - 1) * progress : 1);
            ShiftMeter meter(population.draw(random), random,
                             std::uniform_real_distribution<>(0, 1)(random) < kMeterTimeoutRate);
            CalibrationConfig config;
            config.chip = chip;
            config.search.samples = kReadings;
            config.panelId = std::string("SN-") + chip->name + "-" + std::to_string(1000 + i);
            config.clock = ze::test::nowUs;
            seedFromLine(config.search, line);
            nlohmann::json json = toJson(calibrate(rig.vcom(), meter, config));
            if (!json.contains("line") || json["line"].is_null()) {
                json["line"] = {{"count", line.count()},
                                {"mean", line.mean()},
                                {"sigma", std::sqrt(line.variance())},
                                {"half_life", nullptr}};
            }
            // Until the engine estimates it: the simulated meter's own noise.
            if (!json.contains("noise") || json["noise"].is_null()) json["noise"] = meter.noise();
            json["time"] = utc(kShiftStart + kShiftSeconds * (i + 0.5 * c / names.size()) / panels);
            json["wall_s"] = nullptr;  // the only figure the virtual clock does not drive
            std::cout << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                      << "\n";
            if (json["ok"] == true) line.add(json["best"].get<double>());
        }
    }
    return 0;
}
