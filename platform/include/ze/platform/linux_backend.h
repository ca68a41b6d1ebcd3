#pragma once
// The SoC backend of a Linux board: I2C through i2c-dev (/dev/i2c-N), GPIO
// lines through the GPIO character device (libgpiod), and the display's
// free-run setting as platform state.
//
// Platform configuration, $ZE_PLATFORM_ROOT/etc/zeplatform.conf (INI; ';'
// starts a comment; section and key names ignore case):
//
//   [soc]
//   backend = linux          ; or "sim": the simulated board (libzeplatform-sim)
//   [i2c]
//   buses = 0, 1             ; published as HAL I2C drivers; /dev/i2c-N
//   [gpio]
//   0 = gpiochip0:4          ; GPIO number = chip : line offset
//   168 = /dev/gpiochip0:5
//   [display]
//   freerun_file = /run/zeplatform/freerun   ; optional
//
// [i2c] buses: bus numbers separated by commas or blanks. Only these buses
//   are used; a call for another bus fails with -ENODEV.
// [gpio]: the chip is anything gpiod_chip_open_lookup() accepts: a name
//   ("gpiochip0"), a path ("/dev/gpiochip0"), a label ("pl061") or a number.
//   A line is requested as an output, consumer "zeplatform", at its first
//   set and kept until the backend goes.
// [display] freerun_file: the display's free-run setting has no Linux
//   interface; the backend keeps it. With this key, a get reads the decimal
//   setting from the file (the kept one while the file does not exist) and a
//   set writes it there, so another process can serve it. The path is used
//   as written, not under $ZE_PLATFORM_ROOT.
// Any other section or key, and a line longer than inih takes (199 bytes),
// is an error naming its line: a typo must not pass for an absent entry.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ze/platform/export.h>
#include <ze/platform/soc_backend.h>

namespace ze {
namespace platform {

// A line of a GPIO chip.
struct GpioLineAddress {
    std::string chip;
    unsigned int offset = 0;
};

struct LinuxBackendConfig {
    std::vector<unsigned int> buses;
    std::map<unsigned int, GpioLineAddress> gpios;  // by GPIO number
    std::string freerunFile;                        // empty: kept in memory only
};

// Where the platform configuration lives, under $ZE_PLATFORM_ROOT.
constexpr const char* kPlatformConfigFile = "/etc/zeplatform.conf";

struct PlatformConfig {
    std::string backend;  // "sim" or "linux"; empty: not set
    LinuxBackendConfig hardware;
};

// Parses the text of zeplatform.conf. Returns false, with *error naming the
// line and what is wrong, when the text is broken.
ZE_PLATFORM_EXPORT bool parsePlatformConfig(const std::string& text, PlatformConfig* config,
                                            std::string* error);

// The backend the platform configuration selects: the Linux backend, or the
// simulated board from libzeplatform-sim. nullptr with *error set when there
// is no configuration, it selects nothing, cannot be read or is broken, or
// the simulated board cannot be loaded.
ZE_PLATFORM_EXPORT std::shared_ptr<SocBackend> makeConfiguredBackend(std::string* error);

// The system calls the I2C side makes. Each returns its result (>= 0) or a
// negative errno.
class ZE_PLATFORM_EXPORT SystemCalls {
public:
    virtual ~SystemCalls();
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
};
ZE_PLATFORM_EXPORT std::shared_ptr<SystemCalls> realSystemCalls();

// The GPIO character device as the backend uses it.
class ZE_PLATFORM_EXPORT GpioChipAccess {
public:
    virtual ~GpioChipAccess();
    // Requests line `offset` of `chip` as an output driven at `level` (0 or 1).
    // Returns a handle for setValue() (>= 0) or a negative errno.
    virtual int requestOutput(const std::string& chip, unsigned int offset, const char* consumer,
                              int level) = 0;
    virtual int setValue(int handle, int level) = 0;
};
// Through libgpiod; releases its lines and chips when destroyed.
ZE_PLATFORM_EXPORT std::shared_ptr<GpioChipAccess> makeLibgpiodAccess();

// Thread-safe: calls are served one at a time. Statuses are negative errnos.
class ZE_PLATFORM_EXPORT LinuxBackend : public SocBackend {
public:
    static constexpr const char* kConsumer = "zeplatform";

    explicit LinuxBackend(LinuxBackendConfig config);
    LinuxBackend(LinuxBackendConfig config, std::shared_ptr<SystemCalls> calls,
                 std::shared_ptr<GpioChipAccess> gpio);
    ~LinuxBackend() override;
    LinuxBackend(const LinuxBackend&) = delete;
    LinuxBackend& operator=(const LinuxBackend&) = delete;

    // SocBackend
    const char* name() const override { return "linux"; }
    std::vector<unsigned int> buses() const override;
    int i2cOpen(unsigned int bus, unsigned int mode) override;
    int i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                 unsigned int length) override;
    int i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                unsigned char* buffer) override;
    int gpioSetValue(unsigned int gpio, unsigned int level) override;
    int displayGetFreerunVfreq(int* setting) override;
    int displaySetFreerunVfreq(int setting) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
}  // namespace ze
