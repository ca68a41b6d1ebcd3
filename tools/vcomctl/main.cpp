#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "app.h"

namespace {

constexpr std::uint64_t kUsPerSecond = 1000000;
constexpr std::uint64_t kNsPerUs = 1000;

// The clock ftrace and the kernel's I2C tracepoints use.
std::uint64_t monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kUsPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec) / kNsPerUs;
}

bool takesEscapeCodes()
{
    const char* term = std::getenv("TERM");
    return isatty(STDERR_FILENO) == 1 && term != nullptr && *term != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    vcomctl::catchStopSignals();
    const vcomctl::Io io{std::cout,
                         std::cerr,
                         std::cin,
                         takesEscapeCodes(),
                         isatty(STDIN_FILENO) == 1,
                         monotonicUs,
                         &vcomctl::StopControl::process()};
    return vcomctl::runVcomctl(std::vector<std::string>(argv + 1, argv + argc), io);
}
