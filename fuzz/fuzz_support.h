#pragma once
// What the fuzz targets share: one private platform root per process, and a
// fresh start for every input (virtual clock at 0, captured messages cleared).

#include <cstddef>
#include <cstdint>
#include <string>

#include <ze/test/log_capture.h>

namespace ze::fuzz {

// A simulated board's platform root with its environment store, created on
// first use under the temporary directory and made $ZE_PLATFORM_ROOT.
const std::string& platformRoot();
// The captured debug output, all levels.
ze::test::LogCapture& log();
// Clock and log back to empty: a long run must not grow them.
void startInput();
// Replaces the file, creating its directories.
void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// An oracle that failed: prints the rule and aborts, which libFuzzer reports
// with the input.
[[noreturn]] void violated(const char* rule, const char* file, int line);

}  // namespace ze::fuzz

#define FUZZ_EXPECT(rule) \
    ((rule) ? static_cast<void>(0) : ze::fuzz::violated(#rule, __FILE__, __LINE__))
