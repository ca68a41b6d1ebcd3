// vcomctl's session input: lines of any length and content through the
// bounded reader and the line parser. Besides crashes (a deeply nested JSON
// value, bytes that are no UTF-8): a refusal is one short line, and what runs
// holds the commands a session may run.

#include <sstream>

#include "command_line.h"
#include "fuzz_support.h"

namespace {

// A refusal quotes at most a short piece of what was sent.
constexpr std::size_t kMaxRefusal = 400;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string line;
    for (vcomctl::LineRead got;
         (got = vcomctl::readSessionLine(in, &line)) != vcomctl::LineRead::End;) {
        FUZZ_EXPECT(line.size() <= vcomctl::kMaxSessionLine);
        FUZZ_EXPECT(line.find('\n') == std::string::npos);
        if (got == vcomctl::LineRead::TooLong) continue;
        const vcomctl::ParseOutcome parsed = vcomctl::parseSessionLine(line);
        if (!parsed.run) {
            FUZZ_EXPECT(parsed.exitCode == vcomctl::kExitUsage || parsed.error.empty());
            FUZZ_EXPECT(parsed.error.size() <= kMaxRefusal);
            FUZZ_EXPECT(parsed.error.find('\n') == std::string::npos);
            continue;
        }
        FUZZ_EXPECT(!parsed.options.session);
        for (const vcomctl::Command& command : parsed.options.commands) {
            FUZZ_EXPECT(command.op != vcomctl::Op::Calibrate && command.op != vcomctl::Op::Init);
        }
    }
    return 0;
}
