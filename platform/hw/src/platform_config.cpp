#include <ze/platform/linux_backend.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <ze/platform/paths.h>

#include "ini_text.h"

namespace ze {
namespace platform {
namespace {

// The simulated board lives in a library of its own; the platform finds it
// only when the configuration asks for it.
constexpr const char* kSimLibrary = "libzeplatform-sim.so.2";
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

class ConfigParser {
public:
    explicit ConfigParser(PlatformConfig& config) : config_(config) {}

    bool parse(const std::string& text, std::string* error)
    {
        const IniOutcome outcome = parseIniText(text.data(), text.size(), onEntry, this);
        if (outcome.clean()) return true;
        if (outcome.outOfMemory) {
            *error = "out of memory while parsing";
        } else if (outcome.firstErrorLine == 0) {
            *error = "line " + std::to_string(outcome.overlongLine) + " is longer than " +
                     std::to_string(outcome.lineLimit) + " bytes";
        } else if (outcome.firstErrorLine == problemLine_) {
            *error = "line " + std::to_string(problemLine_) + ": " + problem_;
        } else {
            *error = "line " + std::to_string(outcome.firstErrorLine) +
                     ": expected '[section]' or 'key = value'";
        }
        return false;
    }

private:
    static int onEntry(void* user, unsigned int line, const char* section, const char* name,
                       const char* value)
    {
        ConfigParser& parser = *static_cast<ConfigParser*>(user);
        const std::string problem = parser.take(section, name, value);
        if (problem.empty()) return 1;
        if (parser.problem_.empty()) {
            parser.problem_ = problem;
            parser.problemLine_ = line;
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
        } else {
            return std::string("unknown section [") + section + "] (key '" + name +
                   "'; sections are [soc], [i2c], [gpio] and [display])";
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
    std::string problem_;
    unsigned int problemLine_ = 0;
};

int readFile(const std::string& path, std::string* text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    struct stat info;
    int status = fstat(fd, &info) != 0 ? -errno : 0;
    if (status == 0 && S_ISDIR(info.st_mode)) status = -EISDIR;
    char chunk[kReadChunk];
    ssize_t count = 0;
    while (status == 0 && (count = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno != EINTR) status = -errno;
        if (count > 0) text->append(chunk, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return status;
}

}  // namespace

bool parsePlatformConfig(const std::string& text, PlatformConfig* config, std::string* error)
{
    PlatformConfig parsed;
    std::string problem;
    if (!ConfigParser(parsed).parse(text, &problem)) {
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
    const std::string path = resolvePath(kPlatformConfigFile);
    std::string text;
    const int status = readFile(path, &text);
    if (status == -ENOENT) {
        problem = "no SoC backend configured (" + path + ")";
        return nullptr;
    }
    if (status == -EISDIR) {
        problem = path + " is a directory; the platform configuration is a file";
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
