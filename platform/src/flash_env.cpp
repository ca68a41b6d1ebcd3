#include <flashenv.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include <libuboot.h>

#include <ze/platform/paths.h>

#include "log.h"

namespace {

constexpr const char* kConfigFile = "/etc/fw_env.config";
// libubootenv 0.3.2 reads each line with this format and stops after the
// second copy; the checks below walk the file the same way.
constexpr const char* kLineFormat = "%ms %lli %zx %zx %lx";
constexpr int kMinFields = 3;  // device, offset, size
constexpr std::size_t kMaxCopies = 2;
constexpr std::size_t kMaxLineLength = 1023;
// A negative size reads as a huge one; no environment comes near this.
constexpr std::size_t kLargestSize = std::numeric_limits<std::size_t>::max() / 2;
// CRC-32, and with two copies the flag byte that tells the newer one.
constexpr std::size_t kHeaderSingle = 4;
constexpr std::size_t kHeaderRedundant = 5;

struct EnvCopy {
    unsigned int line;
    std::string device;  // as written
    std::string file;    // a relative device taken under the platform root
    long long offset;
    std::size_t size;
};

// libubootenv skips a line it cannot read but leaks its device name, frees
// nothing when a size is 0, and reads and writes outside its buffers when a
// size leaves no room after the header. Such configurations are refused here,
// with the line, before libubootenv sees them. Returns "" when usable.
std::string checkConfig(const std::string& path, std::vector<EnvCopy>* copies)
{
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return std::strerror(errno);
    std::string problem;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    for (unsigned int number = 1; problem.empty() && copies->size() < kMaxCopies &&
                                  (length = getline(&line, &capacity, file)) != -1;
         ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::size_t content =
            static_cast<std::size_t>(length) - (length > 0 && line[length - 1] == '\n' ? 1 : 0);
        if (content > kMaxLineLength) {
            problem = where + "longer than " + std::to_string(kMaxLineLength) + " bytes";
            continue;
        }
        if (line[0] == '#') continue;
        char* device = nullptr;
        EnvCopy copy = {number, "", "", 0, 0};
        std::size_t sectorSize = 0;
        unsigned long sectors = 0;
        const int fields = std::sscanf(line, kLineFormat, &device, &copy.offset, &copy.size,
                                       &sectorSize, &sectors);
        if (device != nullptr) copy.device = device;
        std::free(device);
        copy.file = copy.device.empty() || copy.device.front() == '/'
                        ? copy.device
                        : ze::platform::resolvePath("/" + copy.device);
        if (fields == EOF) continue;  // blank
        if (fields < kMinFields) {
            problem = where + "expected '<env file> <offset> <size>'";
        } else if (copy.size == 0 || copy.size > kLargestSize) {
            problem = where + "the size of a copy must be a positive hexadecimal number";
        } else if (copy.offset < 0) {
            problem = where + "the offset must not be negative";
        } else {
            copies->push_back(copy);
        }
    }
    std::free(line);
    std::fclose(file);
    if (!problem.empty()) return problem;
    if (copies->empty()) return "names no env file";
    const std::size_t header = copies->size() == 1 ? kHeaderSingle : kHeaderRedundant;
    for (const EnvCopy& copy : *copies) {
        if (copy.size <= header) {
            return "line " + std::to_string(copy.line) + ": a copy of " +
                   std::to_string(copy.size) + " bytes leaves no room after its " +
                   std::to_string(header) + "-byte header";
        }
    }
    if (copies->size() == kMaxCopies && copies->at(0).size != copies->at(1).size) {
        return "the two copies differ in size";
    }
    return "";
}

// A copy cut short (a write that a power cut stopped, a file truncated)
// makes libubootenv refuse both. While the other copy is whole, the short one
// is padded to its size: it stays invalid, libubootenv reads the other, and
// the next store rewrites the padded one.
void padShortCopy(const std::vector<EnvCopy>& copies)
{
    if (copies.size() != kMaxCopies) return;
    std::size_t shortCopies = 0;
    const EnvCopy* damaged = nullptr;
    for (const EnvCopy& copy : copies) {
        struct stat info;
        const off_t end = static_cast<off_t>(copy.offset + static_cast<long long>(copy.size));
        if (stat(copy.file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size < end) {
            ++shortCopies;
            damaged = &copy;
        }
    }
    if (shortCopies != 1) return;
    const off_t end = static_cast<off_t>(damaged->offset + static_cast<long long>(damaged->size));
    if (truncate(damaged->file.c_str(), end) != 0) {
        ZE_LOG_ERROR("%s is shorter than its copy and cannot be padded: %s", damaged->file.c_str(),
                     std::strerror(errno));
        return;
    }
    ZE_LOG_ERROR("%s was cut short; the other copy is used and the next save rewrites it",
                 damaged->file.c_str());
}

// The bytes libubootenv 0.3.2 writes for the environment: "name=value\0"
// each. It leaks its buffer when they do not fit a copy, so that is checked first.
std::size_t storedSize(uboot_ctx* ctx)
{
    std::size_t size = 0;
    for (void* entry = libuboot_iterator(ctx, nullptr); entry != nullptr;
         entry = libuboot_iterator(ctx, entry)) {
        size += std::strlen(libuboot_getname(entry)) + std::strlen(libuboot_getvalue(entry)) + 2;
    }
    return size;
}

// libubootenv splits its lines at whitespace, so a root whose path holds a
// blank can only name its env files relative to itself (env_setup.h), and
// libubootenv would take them relative to the working directory. Such a
// configuration reaches libubootenv rewritten, each relative file named
// through a descriptor of this process. Returns the path to hand over.
class ResolvedConfig {
public:
    ~ResolvedConfig()
    {
        for (const int fd : fds_) ::close(fd);
    }

    int make(const std::string& config, const std::vector<EnvCopy>& copies, std::string* path)
    {
        *path = config;
        bool relative = false;
        for (const EnvCopy& copy : copies) relative = relative || copy.device.front() != '/';
        if (!relative) return 0;
        std::string text;
        for (const EnvCopy& copy : copies) {
            std::string device = copy.device;
            if (device.front() != '/') {
                const int fd = ::open(copy.file.c_str(), O_PATH | O_CLOEXEC);
                if (fd < 0) return -errno;
                fds_.push_back(fd);
                device = descriptorPath(fd);
            }
            char numbers[64];
            std::snprintf(numbers, sizeof numbers, " %lld 0x%zx\n", copy.offset, copy.size);
            text += device + numbers;
        }
        const int fd = memfd_create("fw_env.config", MFD_CLOEXEC);
        if (fd < 0) return -errno;
        fds_.push_back(fd);
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return -EIO;
        }
        *path = descriptorPath(fd);
        return 0;
    }

private:
    static std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

    std::vector<int> fds_;
};

// One open environment, closed when it goes.
class Environment {
public:
    explicit Environment(const char* purpose) : purpose_(purpose) {}
    ~Environment()
    {
        if (opened_) libuboot_close(ctx_);
        if (ctx_ != nullptr) libuboot_exit(ctx_);
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // Returns 0, or the status with the reason logged.
    int open()
    {
        config_ = ze::platform::resolvePath(kConfigFile);
        const std::string problem = checkConfig(config_, &copies_);
        if (!problem.empty()) {
            ZE_LOG_ERROR("cannot %s: %s: %s", purpose_, config_.c_str(), problem.c_str());
            return -EINVAL;
        }
        int status = libuboot_initialize(&ctx_, nullptr);
        if (status < 0 || ctx_ == nullptr) {
            ZE_LOG_ERROR("cannot %s: libubootenv did not start (%d)", purpose_, status);
            return status < 0 ? status : -ENOMEM;
        }
        std::string handedOver;
        status = resolved_.make(config_, copies_, &handedOver);
        if (status != 0) {
            ZE_LOG_ERROR("cannot %s: %s names an env file under %s that cannot be opened: %s",
                         purpose_, config_.c_str(), ze::platform::platformRoot().c_str(),
                         std::strerror(-status));
            return status;
        }
        // libubootenv checks the env files while it reads the configuration.
        status = libuboot_read_config(ctx_, handedOver.c_str());
        if (status != 0) {
            ZE_LOG_ERROR("cannot %s: %s names an env file that is missing or unusable (%s)",
                         purpose_, config_.c_str(), std::strerror(-status));
            return status;
        }
        padShortCopy(copies_);
        // With no valid copy (a blank or damaged store) libubootenv would start
        // an empty environment and store it; on a board that would replace
        // U-Boot's whole default environment. Refuse, as fw_setenv does.
        status = libuboot_open(ctx_);
        opened_ = true;
        if (status == -ENODATA) {
            ZE_LOG_ERROR("cannot %s: the environment in %s has no valid copy", purpose_,
                         config_.c_str());
        } else if (status != 0) {
            ZE_LOG_ERROR("cannot %s: reading the environment of %s failed: %s", purpose_,
                         config_.c_str(), std::strerror(-status));
        }
        if (status == 0 && copies_.size() == 1) warnSingleCopy();
        return status;
    }

    int set(const char* name, const char* value)
    {
        int status = libuboot_set_env(ctx_, name, value);
        if (status != 0) {
            ZE_LOG_ERROR("cannot set %s=%s: %s", name, value != nullptr ? value : "(delete)",
                         std::strerror(-status));
            return status;
        }
        const std::size_t room =
            copies_.front().size - (copies_.size() == 1 ? kHeaderSingle : kHeaderRedundant);
        if (storedSize(ctx_) > room) {
            ZE_LOG_ERROR(
                "cannot store %s: the environment would need %zu of the %zu bytes a "
                "copy in %s holds",
                name, storedSize(ctx_), room, config_.c_str());
            return -ENOSPC;
        }
        status = libuboot_env_store(ctx_);
        if (status != 0) {
            ZE_LOG_ERROR("cannot store %s to the environment of %s: %s", name, config_.c_str(),
                         std::strerror(-status));
        }
        return status;
    }

    bool get(const char* name, std::string* value)
    {
        char* text = libuboot_get_env(ctx_, name);
        if (text == nullptr) return false;
        *value = text;
        std::free(text);
        return true;
    }

private:
    void warnSingleCopy() const
    {
        // Once per configuration, not at every save.
        static std::string* const warned = new std::string;
        if (*warned == config_) return;
        *warned = config_;
        ZE_LOG_ERROR(
            "warning: %s names one env copy; a power cut during a save can lose the "
            "environment (add a second copy of the same size)",
            config_.c_str());
    }

    const char* const purpose_;
    std::string config_;
    std::vector<EnvCopy> copies_;
    ResolvedConfig resolved_;
    uboot_ctx* ctx_ = nullptr;
    bool opened_ = false;
};

// libubootenv keeps no lock of its own: two stores at once could write the
// same copy. One store at a time within the process.
std::mutex& storeMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

bool validName(const char* name)
{
    if (name != nullptr && *name != '\0' && std::strchr(name, '=') == nullptr) return true;
    ZE_LOG_ERROR("invalid variable name '%s'", name != nullptr ? name : "(null)");
    return false;
}

}  // namespace

FlashEnv* FlashEnv::instance()
{
    static FlashEnv* const env = new FlashEnv;
    return env;
}

FlashEnv::~FlashEnv() = default;

int FlashEnv::setEnv(const char* name, const char* value)
{
    if (!validName(name)) return -1;
    std::lock_guard<std::mutex> lock(storeMutex());
    Environment env("save the environment");
    const int status = env.open();
    return status != 0 ? status : env.set(name, value);
}

int FlashEnv::getEnv(const char* name, std::string* value)
{
    if (!validName(name) || value == nullptr) return -1;
    std::lock_guard<std::mutex> lock(storeMutex());
    Environment env("read the environment");
    const int status = env.open();
    if (status != 0) return status;
    return env.get(name, value) ? 0 : -ENOENT;
}
