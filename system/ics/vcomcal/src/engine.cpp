#include <ze/vcomcal/engine.h>

#include <unistd.h>

#include <chrono>
#include <cmath>

namespace ze {
namespace vcomcal {
namespace {

// Handed to Get_Vcom_bmp, which does not look at it.
constexpr const char* kPatternName = "vcom";

std::uint64_t monotonicUs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// A failed update, told apart from a meter failure only in the message.
class UpdateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Run {
public:
    Run(ze::hal::Vcom& vcom, Meter& meter, const CalibrationConfig& config)
        : vcom_(vcom), meter_(meter), config_(config)
    {
        sleep_ = config.sleep ? config.sleep : [](std::uint64_t us) { ::usleep(us); };
        clock_ = config.clock ? config.clock : monotonicUs;
        report_.chip = config.chip->label;
        report_.panelId = config.panelId;
    }

    CalibrationReport execute()
    {
        const std::uint64_t startUs = clock_();
        const std::uint64_t wallStartUs = monotonicUs();
        report_.start = current_ = vcom_.u1DrvReadVcom();
        vcom_.Get_Vcom_bmp(kPatternName, 1);
        try {
            const SearchResult found =
                findOptimum(searchConfig(), [this](unsigned v, unsigned n) { return probe(v, n); });
            report_.best = found.best;
            report_.flicker = found.flicker;
            report_.measurements = found.measurements;
            set(found.best);
            vcom_.Get_Vcom_bmp(kPatternName, 0);
            if (config_.save) saveBest();
            report_.ok = report_.error.empty();
        } catch (const std::exception& e) {
            report_.error = e.what();
            restoreStart();
            vcom_.Get_Vcom_bmp(kPatternName, 0);
        }
        report_.elapsedUs = clock_() - startUs;
        report_.wallUs = monotonicUs() - wallStartUs;
        return report_;
    }

private:
    SearchConfig searchConfig() const
    {
        SearchConfig search = config_.search;
        search.lo = 0;
        search.hi = config_.chip->updateMax;
        return search;
    }

    std::vector<double> probe(unsigned value, unsigned count)
    {
        set(value);
        std::vector<double> readings;
        for (unsigned i = 0; i < count; ++i) readings.push_back(meter_.read(value));
        report_.readings += count;
        return readings;
    }

    void set(unsigned value)
    {
        if (value == current_) return;
        ++report_.updates;
        const int status = vcom_.u1DrvUpdataVcom(static_cast<unsigned short>(value));
        if (status != 0) {
            throw UpdateError("update to " + std::to_string(value) + " failed (driver status " +
                              std::to_string(status) + ")");
        }
        current_ = value;
        sleep_(config_.settleUs);
        report_.settleUs += config_.settleUs;
    }

    void restoreStart()
    {
        try {
            set(report_.start);
            report_.restored = true;
        } catch (const UpdateError& e) {
            report_.error += "; going back to the start value " + std::to_string(report_.start) +
                             " failed too: " + e.what();
        }
    }

    void saveBest()
    {
        const unsigned best = report_.best;
        if (best > config_.chip->saveMax) {
            report_.error = "best value " + std::to_string(best) + " is beyond what the " +
                            config_.chip->label + " stores (0-" +
                            std::to_string(config_.chip->saveMax) + ", " + config_.chip->saveNote +
                            "); left set, not saved";
            return;
        }
        const int status = vcom_.u1DrvSaveVcom(static_cast<unsigned short>(best));
        if (status != 0) {
            report_.error = "save of " + std::to_string(best) + " failed (driver status " +
                            std::to_string(status) + ")";
            return;
        }
        report_.saved = true;
        const unsigned readBack = vcom_.u1DrvReadVcom();
        report_.verified = readBack == best;
        if (!report_.verified) {
            report_.error = "saved " + std::to_string(best) + " but the chip reads back " +
                            std::to_string(readBack);
        }
    }

    ze::hal::Vcom& vcom_;
    Meter& meter_;
    const CalibrationConfig& config_;
    std::function<void(std::uint64_t)> sleep_;
    std::function<std::uint64_t()> clock_;
    unsigned current_ = 0;
    CalibrationReport report_;
};

}  // namespace

void seedFromLine(SearchConfig& search, const LineStats& line)
{
    if (line.count() < kMinSeedPanels) return;
    search.seedMean = line.mean();
    search.seedSigma = std::sqrt(line.variance());
}

CalibrationReport calibrate(ze::hal::Vcom& vcom, Meter& meter, const CalibrationConfig& config)
{
    return Run(vcom, meter, config).execute();
}

}  // namespace vcomcal
}  // namespace ze
