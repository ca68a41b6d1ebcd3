#include "fuzz_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/sim/rig.h>
#include <ze/test/virtual_clock.h>

namespace ze::fuzz {

const std::string& platformRoot()
{
    // Kept for the process: libFuzzer ends it without running destructors.
    static ze::sim::Rig* const rig = [] {
        std::string error;
        std::unique_ptr<ze::sim::Rig> made = ze::sim::Rig::create({}, &error);
        if (!made) {
            std::fprintf(stderr, "%s\n", error.c_str());
            violated("a simulated board's platform root", __FILE__, __LINE__);
        }
        made->activate();
        return made.release();
    }();
    return rig->root();
}

ze::test::LogCapture& log()
{
    static ze::test::LogCapture* const capture = new ze::test::LogCapture;
    return *capture;
}

void startInput()
{
    platformRoot();
    ze::test::resetClock();
    log().clear();
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void violated(const char* rule, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: rule broken: %s\n", file, line, rule);
    std::abort();
}

}  // namespace ze::fuzz
