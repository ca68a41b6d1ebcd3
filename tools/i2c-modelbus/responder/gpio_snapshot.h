#pragma once
// Line levels of real GPIO chips, read from the kernel's GPIO debugfs file.
// It lists every requested line with its direction and the level the chip
// reads back, whoever holds the line, so lines another process drives can
// be sampled without requesting (and so disturbing) them.

#include <map>
#include <string>

namespace modelbus {

constexpr const char* kGpioDebugFile = "/sys/kernel/debug/gpio";

struct LineAddress {
    std::string chip;  // "gpiochip0"
    unsigned int offset;
};

// "gpiochip0:4"; false when the text is not of that form.
bool parseLineAddress(const std::string& text, LineAddress* line);

enum class Level { Low, High, Undriven };

// "0", "1" or "-" (no one drives the line as an output).
const char* levelName(Level level);

class GpioSnapshot {
public:
    // The levels as `debugFileText` (the content of kGpioDebugFile) gives them.
    explicit GpioSnapshot(const std::string& debugFileText);

    Level level(const LineAddress& line) const;

private:
    // Output lines by chip and offset; lines not listed are undriven.
    std::map<std::string, std::map<unsigned int, bool>> outputs_;
};

// Reads kGpioDebugFile (or `path`); false with errno set when it cannot.
bool readGpioDebugFile(std::string* text, const char* path = kGpioDebugFile);

}  // namespace modelbus
