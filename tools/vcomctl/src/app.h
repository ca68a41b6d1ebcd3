#pragma once
// One run of vcomctl, from the arguments to the exit status.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "stop_control.h"

namespace vcomctl {

struct Io {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;  // session commands, answers to a confirmation
    // stderr is a terminal that takes escape codes: long operations show
    // progress there.
    bool progress = false;
    // stdin is a terminal: an MTP save on hardware asks first.
    bool interactive = false;
    // Signals that ask the run to stop; null when none are caught.
    StopControl* stop = nullptr;
};

// `args` without the program name.
int runVcomctl(const std::vector<std::string>& args, const Io& io);

}  // namespace vcomctl
