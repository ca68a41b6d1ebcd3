#pragma once
// Pictures and log lines of calibrations, made from their reports alone.

#include <istream>
#include <string>

#include <ze/vcomcal/engine.h>
#include <ze/vcomplot/plot.h>

namespace vcomctl {

// The SVG of one report in `in`: a --json result's first entry, or a --log
// line (the first one, or the latest of `panel`). "" with *svg set, or why
// `in` holds none, to follow its file name.
std::string panelPicture(std::istream& in, const std::string& panel, std::string* svg);

// The log's JSON line for one panel, '\n' included.
std::string calibrationLogLine(const ze::vcomcal::CalibrationReport& report);
// The panel's curve, whatever the calibration's outcome.
std::string calibrationPicture(const ze::vcomcal::CalibrationReport& report);

}  // namespace vcomctl
