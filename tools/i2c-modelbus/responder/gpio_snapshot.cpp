#include "gpio_snapshot.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace modelbus {
namespace {

constexpr std::string::size_type kLabelWidth = 20;

}  // namespace

bool parseLineAddress(const std::string& text, LineAddress* line)
{
    const std::string::size_type colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    unsigned int offset = 0;
    char extra = 0;
    if (std::sscanf(text.c_str() + colon + 1, "%u%c", &offset, &extra) != 1) return false;
    *line = LineAddress{text.substr(0, colon), offset};
    return true;
}

const char* levelName(Level level)
{
    switch (level) {
        case Level::Low:
            return "0";
        case Level::High:
            return "1";
        case Level::Undriven:
            break;
    }
    return "-";
}

// A chip's section starts with "gpiochip0: GPIOs 504-511, parent: ...:"; each
// requested line follows as " gpio-508 (name|consumer) out hi ...".
GpioSnapshot::GpioSnapshot(const std::string& debugFileText)
{
    std::istringstream lines(debugFileText);
    std::string line;
    std::string chip;
    int base = 0;
    while (std::getline(lines, line)) {
        char name[64];
        int first = 0;
        if (std::sscanf(line.c_str(), "%63[^:]: GPIOs %d-", name, &first) == 2) {
            chip = name;
            base = first;
            continue;
        }
        int gpio = 0;
        if (chip.empty() || std::sscanf(line.c_str(), " gpio-%d", &gpio) != 1) continue;
        // Name and consumer are printed 20 characters wide, cut or padded,
        // and may hold parentheses themselves.
        const std::string::size_type open = line.find('(');
        const std::string::size_type close = open + 2 * kLabelWidth + 2;
        if (open == std::string::npos || close + 2 > line.size() || line[close] != ')' ||
            gpio < base) {
            continue;
        }
        char direction[4] = {};
        char value[4] = {};
        if (std::sscanf(line.c_str() + close + 2, "%3s %3s", direction, value) != 2) continue;
        if (std::strcmp(direction, "out") != 0) continue;
        outputs_[chip][static_cast<unsigned int>(gpio - base)] = std::strcmp(value, "hi") == 0;
    }
}

Level GpioSnapshot::level(const LineAddress& line) const
{
    const auto chip = outputs_.find(line.chip);
    if (chip == outputs_.end()) return Level::Undriven;
    const auto out = chip->second.find(line.offset);
    if (out == chip->second.end()) return Level::Undriven;
    return out->second ? Level::High : Level::Low;
}

bool readGpioDebugFile(std::string* text, const char* path)
{
    std::ifstream file(path);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    *text = content.str();
    return true;
}

}  // namespace modelbus
