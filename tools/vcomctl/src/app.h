#pragma once
// One run of vcomctl, from the arguments to the exit status.

#include <ostream>
#include <string>
#include <vector>

#include "trace.h"

namespace vcomctl {

struct Io {
    std::ostream& out;
    std::ostream& err;
    // stderr is a terminal: long operations show progress there.
    bool terminal = false;
    // Time of the trace, in microseconds.
    Clock clock;
};

// `args` without the program name.
int runVcomctl(const std::vector<std::string>& args, const Io& io);

}  // namespace vcomctl
