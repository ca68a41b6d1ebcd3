#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app.h"

namespace {

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
                         &vcomctl::StopControl::process()};
    return vcomctl::runVcomctl(std::vector<std::string>(argv + 1, argv + argc), io);
}
