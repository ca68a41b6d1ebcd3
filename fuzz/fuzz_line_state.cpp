// The line's state file (vcomctl calibrate --state) through its reader: a
// record comes back whole and finite, anything else is a one-line error.

#include <cmath>

#include <ze/vcomcal/line_stats.h>

#include "fuzz_support.h"

namespace {

// The half-lives vcomctl's users choose from: all alike, short, the default.
constexpr double kHalfLives[] = {0, 1, ze::vcomcal::kDefaultHalfLifePanels};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double halfLife = kHalfLives[size % std::size(kHalfLives)];
    std::string error;
    std::optional<ze::vcomcal::LineStats> line =
        ze::vcomcal::LineStats::parse(text, halfLife, &error);
    if (!line) {
        FUZZ_EXPECT(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    line->add(line->mean() + 1);
    FUZZ_EXPECT(std::isfinite(line->mean()) && std::isfinite(line->variance()));
    FUZZ_EXPECT(line->variance() >= 0);
    const std::optional<ze::vcomcal::LineStats> back =
        ze::vcomcal::LineStats::parse(line->text(), halfLife, &error);
    FUZZ_EXPECT(back && back->count() == line->count() && back->mean() == line->mean());
    return 0;
}
