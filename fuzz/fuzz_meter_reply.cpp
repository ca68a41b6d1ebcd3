// A flicker meter's line through the reply parser: one finite number, or an
// error that quotes the line short and printable.

#include <cctype>
#include <cmath>

#include <ze/vcomcal/meter.h>

#include "fuzz_support.h"

namespace {

const std::string kMeter = "meter 'probe'";
// The name, the words around the quote and each quoted byte escaped (\xNN).
constexpr std::size_t kLongestError = 64 + 4 * ze::vcomcal::kQuotedMeterBytes;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    const std::string line(reinterpret_cast<const char*>(data), size);
    try {
        FUZZ_EXPECT(std::isfinite(ze::vcomcal::parseReading(line, kMeter)));
    } catch (const ze::vcomcal::MeterError& e) {
        const std::string error = e.what();
        FUZZ_EXPECT(error.size() <= kLongestError && error.compare(0, kMeter.size(), kMeter) == 0);
        for (const char c : error) FUZZ_EXPECT(std::isprint(static_cast<unsigned char>(c)));
    }
    return 0;
}
