#include <ze/platform/linux_backend.h>

#include <dlfcn.h>
#include <ini.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <ze/platform/paths.h>

namespace ze {
namespace platform {
namespace {

constexpr const char* kConfigFile = "/etc/zeplatform.conf";
// The simulated board lives in a library of its own; the platform finds it
// only when the configuration asks for it.
constexpr const char* kSimLibrary = "libzeplatform-sim.so.1";
constexpr const char* kSimFactory = "ze_sim_create_backend";
using SimFactory = SocBackend* (*)(const char* root);
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kMaxDigits = 10;  // UINT_MAX has ten

bool named(const char* text, const char* name)
{
    return strcasecmp(text, name) == 0;
}

bool parseNumber(const std::string& text, unsigned int* number)
{
    if (text.empty() || text.size() > kMaxDigits ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > UINT_MAX) return false;
    *number = static_cast<unsigned int>(value);
    return true;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Feeds inih from a string and counts the lines it hands out, so that an
// error names its line even when inih splits an overlong one.
struct TextReader {
    const std::string& text;
    std::size_t position = 0;
    unsigned int line = 0;
    bool atLineStart = true;
};

char* readLine(char* out, int size, void* stream)
{
    TextReader& reader = *static_cast<TextReader*>(stream);
    if (reader.position >= reader.text.size() || size < 2) return nullptr;
    if (reader.atLineStart) ++reader.line;
    std::size_t count = 0;
    while (count + 1 < static_cast<std::size_t>(size) && reader.position < reader.text.size()) {
        const char c = reader.text[reader.position++];
        out[count++] = c;
        if (c == '\n') break;
    }
    out[count] = '\0';
    reader.atLineStart = out[count - 1] == '\n';
    return out;
}

class ConfigParser {
public:
    ConfigParser(PlatformConfig& config, const std::string& text) : config_(config), reader_{text}
    {
    }

    bool parse(std::string* error)
    {
        const int firstBadLine = ini_parse_stream(readLine, &reader_, onEntry, this);
        if (firstBadLine == 0) return true;
        if (firstBadLine < 0) {
            *error = "out of memory while parsing";
        } else if (problem_.empty() || static_cast<unsigned int>(firstBadLine) < problemLine_) {
            *error =
                "line " + std::to_string(firstBadLine) + ": expected '[section]' or 'key = value'";
        } else {
            *error = "line " + std::to_string(problemLine_) + ": " + problem_;
        }
        return false;
    }

private:
    static int onEntry(void* user, const char* section, const char* name, const char* value)
    {
        ConfigParser& parser = *static_cast<ConfigParser*>(user);
        const std::string problem = parser.take(section, name, value);
        if (problem.empty()) return 1;
        if (parser.problem_.empty()) {
            parser.problem_ = problem;
            parser.problemLine_ = parser.reader_.line;
        }
        return 0;
    }

    std::string take(const char* section, const char* name, const std::string& value)
    {
        if (named(section, "soc")) {
            if (!named(name, "backend")) return unknownKey(section, name);
            if (value != "sim" && value != "linux") {
                return "unknown SoC backend '" + value + "' (expected sim or linux)";
            }
            config_.backend = value;
        } else if (named(section, "i2c")) {
            if (!named(name, "buses")) return unknownKey(section, name);
            return addBuses(value);
        } else if (named(section, "gpio")) {
            return addGpio(name, value);
        } else if (named(section, "display")) {
            if (!named(name, "freerun_file")) return unknownKey(section, name);
            if (value.empty()) return "freerun_file names no file";
            config_.hardware.freerunFile = value;
        }
        return "";
    }

    static std::string unknownKey(const char* section, const char* name)
    {
        return std::string("unknown key '") + name + "' under [" + section + "]";
    }

    std::string addBuses(const std::string& value)
    {
        std::vector<unsigned int>& buses = config_.hardware.buses;
        std::size_t start = 0;
        while ((start = value.find_first_not_of(", \t", start)) != std::string::npos) {
            const std::size_t end = value.find_first_of(", \t", start);
            const std::string item = value.substr(start, end - start);
            unsigned int bus = 0;
            if (!parseNumber(item, &bus)) return "'" + item + "' is not an I2C bus number";
            if (std::find(buses.begin(), buses.end(), bus) != buses.end()) {
                return "I2C bus " + item + " is listed twice";
            }
            buses.push_back(bus);
            start = end;
        }
        return "";
    }

    std::string addGpio(const std::string& name, const std::string& value)
    {
        unsigned int gpio = 0;
        if (!parseNumber(name, &gpio)) return "'" + name + "' is not a GPIO number";
        const std::string expected =
            "GPIO " + name + ": expected <chip>:<offset>, got '" + value + "'";
        const std::size_t colon = value.rfind(':');
        if (colon == std::string::npos) return expected;
        GpioLineAddress line;
        line.chip = trimmed(value.substr(0, colon));
        if (line.chip.empty() || !parseNumber(trimmed(value.substr(colon + 1)), &line.offset)) {
            return expected;
        }
        for (const auto& mapped : config_.hardware.gpios) {
            if (mapped.first == gpio) return "GPIO " + name + " is mapped twice";
            if (mapped.second.chip == line.chip && mapped.second.offset == line.offset) {
                return "GPIO " + name + " and GPIO " + std::to_string(mapped.first) +
                       " map to the same line";
            }
        }
        config_.hardware.gpios.emplace(gpio, std::move(line));
        return "";
    }

    PlatformConfig& config_;
    TextReader reader_;
    std::string problem_;
    unsigned int problemLine_ = 0;
};

int readFile(const std::string& path, std::string* text)
{
    std::FILE* in = std::fopen(path.c_str(), "re");
    if (in == nullptr) return -errno;
    char chunk[kReadChunk];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, in)) > 0) text->append(chunk, count);
    const int status = std::ferror(in) ? -EIO : 0;
    std::fclose(in);
    return status;
}

}  // namespace

bool parsePlatformConfig(const std::string& text, PlatformConfig* config, std::string* error)
{
    PlatformConfig parsed;
    std::string problem;
    if (!ConfigParser(parsed, text).parse(&problem)) {
        if (error != nullptr) *error = problem;
        return false;
    }
    *config = std::move(parsed);
    return true;
}

// The simulated board's factory: already in the process when the program
// links the simulator, otherwise from its library.
std::shared_ptr<SocBackend> makeSimulatedBackend(std::string* problem)
{
    void* symbol = dlsym(RTLD_DEFAULT, kSimFactory);
    if (symbol == nullptr) {
        void* library = dlopen(kSimLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* reason = dlerror();
            *problem = std::string("backend = sim, but the simulated board is not available: ") +
                       (reason != nullptr ? reason : kSimLibrary);
            return nullptr;
        }
        symbol = dlsym(library, kSimFactory);  // the library stays loaded for the process
    }
    if (symbol == nullptr) {
        *problem = std::string("backend = sim, but ") + kSimLibrary + " has no " + kSimFactory;
        return nullptr;
    }
    errno = 0;
    SocBackend* board = reinterpret_cast<SimFactory>(symbol)(platformRoot().c_str());
    if (board == nullptr) {
        *problem = std::string("the simulated board could not be set up: ") +
                   std::strerror(errno != 0 ? errno : EINVAL);
        return nullptr;
    }
    return std::shared_ptr<SocBackend>(board);
}

std::shared_ptr<SocBackend> makeConfiguredBackend(std::string* error)
{
    std::string ignored;
    std::string& problem = error != nullptr ? *error : ignored;
    problem.clear();
    const std::string path = resolvePath(kConfigFile);
    std::string text;
    const int status = readFile(path, &text);
    if (status == -ENOENT) {
        problem = "no SoC backend configured (" + path + ")";
        return nullptr;
    }
    if (status < 0) {
        problem = path + ": cannot read: " + std::strerror(-status);
        return nullptr;
    }
    PlatformConfig config;
    std::string broken;
    if (!parsePlatformConfig(text, &config, &broken)) {
        problem = path + ": " + broken;
        return nullptr;
    }
    if (config.backend.empty()) {
        problem = "no SoC backend configured (" + path + ": [soc] backend is not set)";
        return nullptr;
    }
    if (config.backend == "sim") return makeSimulatedBackend(&problem);
    return std::make_shared<LinuxBackend>(std::move(config.hardware));
}

}  // namespace platform
}  // namespace ze
