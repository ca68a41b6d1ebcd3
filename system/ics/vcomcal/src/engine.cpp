#include <ze/vcomcal/engine.h>

#include <unistd.h>

#include <algorithm>
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

constexpr double kUsPerSecond = 1e6;

// A run that stops on its way carries the report's reason for it.
class Stopped : public std::runtime_error {
public:
    Stopped(const char* why, const std::string& message) : std::runtime_error(message), reason(why)
    {
    }
    const char* reason;
};

const char* outcomeReason(SearchOutcome outcome)
{
    switch (outcome) {
        case SearchOutcome::Confirmed:
            return "";
        case SearchOutcome::Unconfirmed:
            return "unconfirmed";
        case SearchOutcome::NoMinimum:
            return "no_minimum";
        case SearchOutcome::Limit:
            break;
    }
    return "limit";
}

class Run {
public:
    Run(ze::hal::Vcom& vcom, Meter& meter, const CalibrationConfig& config)
        : vcom_(vcom), meter_(meter), config_(config)
    {
        sleep_ = config.sleep ? config.sleep : [](std::uint64_t us) { ::usleep(us); };
        clock_ = config.clock ? config.clock : monotonicUs;
        report_.chip = config.chip->label;
        report_.panelId = config.panelId;
        report_.line = config.line;
    }

    CalibrationReport execute()
    {
        startUs_ = clock_();
        const std::uint64_t wallStartUs = monotonicUs();
        report_.start = current_ = vcom_.u1DrvReadVcom();
        vcom_.Get_Vcom_bmp(kPatternName, 1);
        try {
            const SearchConfig search = searchConfig();
            const SearchResult found =
                findOptimum(search, [this](unsigned v, unsigned n) { return probe(v, n); });
            take(found);
            judge(found, search);
            set(found.best);
            checkStop();
            vcom_.Get_Vcom_bmp(kPatternName, 0);
            if (config_.save) saveBest();
            report_.ok = report_.error.empty();
        } catch (const Stopped& e) {
            fail(e.reason, e.what());
        } catch (const MeterError& e) {
            fail(stopRequested() ? "interrupted" : "meter", e.what());
        } catch (const std::exception& e) {
            fail("meter", e.what());
        }
        report_.elapsedUs = clock_() - startUs_;
        report_.wallUs = monotonicUs() - wallStartUs;
        return report_;
    }

private:
    // What a chip stores is what the search may choose. One update of the
    // limit stays back for leaving the panel at the result, or at its start
    // value after a failure.
    SearchConfig searchConfig()
    {
        SearchConfig search = config_.search;
        search.maxMoves -= std::min(search.maxMoves, 1u);
        search.lo = 0;
        search.hi = std::min(config_.chip->updateMax, config_.chip->saveMax);
        report_.rangeLo = search.lo;
        report_.rangeHi = search.hi;
        return search;
    }

    void take(const SearchResult& found)
    {
        report_.best = found.best;
        report_.flicker = found.flicker;
        report_.measurements = found.measurements;
        report_.noise = found.noise;
        report_.confirmed = found.outcome == SearchOutcome::Confirmed;
        report_.confirmation = found.confirmation;
        report_.atRangeEnd = found.atRangeEnd;
        report_.modelKind = found.modelKind;
        report_.modelCurve = found.modelCurve;
    }

    void judge(const SearchResult& found, const SearchConfig& search)
    {
        const std::string range =
            " in " + std::to_string(search.lo) + "-" + std::to_string(search.hi);
        switch (found.outcome) {
            case SearchOutcome::Confirmed:
                return;
            case SearchOutcome::Unconfirmed:
                if (config_.saveUnconfirmed) return;
                throw Stopped(outcomeReason(found.outcome),
                              "the minimum at " + std::to_string(found.best) +
                                  " is not confirmed: its neighbours do not rise clearly above it; "
                                  "more samples or --save-unconfirmed");
            case SearchOutcome::NoMinimum:
                throw Stopped(outcomeReason(found.outcome),
                              "no minimum" + range +
                                  ": the readings do not rise above their noise anywhere; is the "
                                  "meter watching the panel?");
            case SearchOutcome::Limit:
                break;
        }
        throw Stopped(outcomeReason(found.outcome),
                      "no confirmed minimum" + range + " within " +
                          std::to_string(config_.search.maxMoves) + " updates and " +
                          std::to_string(search.maxReadings) + " readings");
    }

    bool stopRequested() const { return config_.stopRequested && config_.stopRequested(); }

    void checkStop() const
    {
        if (stopRequested()) throw Stopped("interrupted", "stopped on request");
    }

    std::vector<double> probe(unsigned value, unsigned count)
    {
        set(value);
        std::vector<double> readings;
        for (unsigned i = 0; i < count; ++i) {
            checkStop();
            readings.push_back(meter_.read(value));
            ++report_.readings;
            report_.raw.push_back(
                {value, readings.back(), double(clock_() - startUs_) / kUsPerSecond});
        }
        return readings;
    }

    void set(unsigned value)
    {
        if (value == current_) return;
        checkStop();
        ++report_.updates;
        const int status = vcom_.u1DrvUpdataVcom(static_cast<unsigned short>(value));
        if (status != 0) {
            throw Stopped("update", "update to " + std::to_string(value) +
                                        " failed (driver status " + std::to_string(status) + ")");
        }
        current_ = value;
        sleep_(config_.settleUs);
        report_.settleUs += config_.settleUs;
    }

    void fail(const char* reason, const std::string& message)
    {
        report_.reason = reason;
        report_.error = message;
        restoreStart();
        vcom_.Get_Vcom_bmp(kPatternName, 0);
    }

    // Going back happens whatever stopped the run, a stop request included.
    void restoreStart()
    {
        if (current_ == report_.start) {
            report_.restored = true;
            return;
        }
        ++report_.updates;
        const int status = vcom_.u1DrvUpdataVcom(static_cast<unsigned short>(report_.start));
        report_.restored = status == 0;
        if (status == 0) {
            current_ = report_.start;
        } else {
            report_.error += "; going back to the start value " + std::to_string(report_.start) +
                             " failed too (driver status " + std::to_string(status) + ")";
        }
    }

    void saveBest()
    {
        const unsigned best = report_.best;
        const int status = vcom_.u1DrvSaveVcom(static_cast<unsigned short>(best));
        if (status != 0) {
            report_.reason = "save";
            report_.error = "save of " + std::to_string(best) + " failed (driver status " +
                            std::to_string(status) + ")";
            return;
        }
        report_.saved = true;
        const unsigned readBack = vcom_.u1DrvReadVcom();
        report_.verified = readBack == best;
        if (!report_.verified) {
            report_.reason = "verify";
            report_.error = "saved " + std::to_string(best) + " but the chip reads back " +
                            std::to_string(readBack);
        }
    }

    ze::hal::Vcom& vcom_;
    Meter& meter_;
    const CalibrationConfig& config_;
    std::function<void(std::uint64_t)> sleep_;
    std::function<std::uint64_t()> clock_;
    std::uint64_t startUs_ = 0;
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

void seedFromLine(CalibrationConfig& config, const LineStats& line)
{
    seedFromLine(config.search, line);
    if (!config.search.seedMean) return;
    if (!config.line) config.line.emplace();
    config.line->count = double(line.count());
    config.line->mean = *config.search.seedMean;
    config.line->sigma = *config.search.seedSigma;
}

CalibrationReport calibrate(ze::hal::Vcom& vcom, Meter& meter, const CalibrationConfig& config)
{
    return Run(vcom, meter, config).execute();
}

}  // namespace vcomcal
}  // namespace ze
