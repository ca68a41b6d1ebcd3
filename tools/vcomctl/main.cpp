#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "app.h"

int main(int argc, char** argv)
{
    const auto start = std::chrono::steady_clock::now();
    vcomctl::Io io{std::cout, std::cerr, isatty(STDERR_FILENO) == 1, [start] {
                       return static_cast<std::uint64_t>(
                           std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
                   }};
    return vcomctl::runVcomctl(std::vector<std::string>(argv + 1, argv + argc), io);
}
