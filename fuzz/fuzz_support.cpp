#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/sim/rig.h>
#include <ze/test/virtual_clock.h>

namespace ze::fuzz {

const std::string& platformRoot()
{
    // The platform is pointed at the root alone: each input brings its own
    // SoC backend, and the root goes when the process ends normally.
    static const std::unique_ptr<ze::sim::Rig> rig = [] {
        std::string error;
        std::unique_ptr<ze::sim::Rig> made = ze::sim::Rig::create({}, &error);
        if (!made) {
            std::fprintf(stderr, "%s\n", error.c_str());
            violated("a simulated board's platform root", __FILE__, __LINE__);
        }
        setenv("ZE_PLATFORM_ROOT", made->root().c_str(), 1);
        return made;
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
