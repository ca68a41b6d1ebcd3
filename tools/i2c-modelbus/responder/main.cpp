// i2c-modelbus-responder: serves the i2c-modelbus adapter's transfers from
// the simulated board's chip models, so that a real kernel's i2c-dev meets
// the same models as the host tests.

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/userfaultfd.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ze/ic/chip_catalogue.h>
#include <ze/sim/board.h>
#include <ze/sim/models/auo.h>
#include <ze/sim/panel.h>
#include <CLI/CLI.hpp>

#include "gpio_snapshot.h"
#include "i2c-modelbus.h"
#include "transaction.h"

namespace modelbus {
namespace {

// The board's own number for the one bus the adapter stands for.
constexpr unsigned int kBoardBus = 0;
// Any status a kernel function can return; the adapter passes on fewer.
constexpr unsigned int kMaxKernelErrno = 4095;
// I2C_TIMEOUT takes an int.
constexpr unsigned int kMaxI2cTimeout = 0x7FFFFFFF;

const char* const kFooter =
    "Commands, one per line on standard input, each answered with one line on\n"
    "standard output (\"ok\", the answer, or \"error: ...\"):\n"
    "  dump                              the chip models' registers and NVM\n"
    "  power-cycle                       power the models off and on\n"
    "  fail-nth write|read N ERRNO       the Nth write (read) from now fails once\n"
    "  fail-matching ADDR [SUB] ERRNO    every transfer to ADDR (8-bit form; reads\n"
    "                                    use the read form, 0xE9 for 0xE8) fails\n"
    "  clear-faults\n"
    "  stall-read                        the next transfer is read into memory whose\n"
    "                                    page fault never completes (userfaultfd);\n"
    "                                    the ones after it are served\n"
    "  i2c-timeout BUS CS                set /dev/i2c-BUS's timeout to CS x 10 ms with\n"
    "                                    I2C_TIMEOUT, as any of its users can\n"
    "ERRNO is a name such as ENXIO (address not acknowledged) or EIO (data byte\n"
    "not acknowledged), or a number up to 4095, such as 512 (ERESTARTSYS, which\n"
    "the adapter must refuse). \"ready\" is printed once the adapter is served;\n"
    "each transfer is logged on standard error with the sampled line levels.\n"
    "\n"
    "Example:\n"
    "  i2c-modelbus-responder auo --gpio-status 0 --gate gpiochip0:4 2>xfers.log";

struct Options {
    std::string chip;
    unsigned int vcomAddr = 0xE8;
    unsigned int gpioStatus = 1;
    std::string gate;
    std::string switchLine;
    std::string device = MODELBUS_DEVICE;
};

struct Responder {
    Responder()
    {
        board.useClock([this] { return ze::sim::defaultClockUs() + creditUs; });
    }

    ze::sim::Board board;
    // Time the board's clock runs ahead of the monotonic one; see applyGate.
    std::uint64_t creditUs = 0;
    ze::sim::VcomBoardConfig panel;
    ze::sim::Panel models;
    std::optional<LineAddress> gate;
    std::optional<LineAddress> switchLine;
    unsigned long transfers = 0;
    int device = -1;
    // A userfaultfd while a stalled read is on its way to its fault.
    int stall = -1;
};

bool parseNumber(const std::string& text, unsigned int max, unsigned int* value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > max) return false;
    *value = static_cast<unsigned int>(parsed);
    return true;
}

bool parseErrno(const std::string& name, int* status)
{
    unsigned int number = 0;
    if (parseNumber(name, kMaxKernelErrno, &number) && number > 0) {
        *status = -static_cast<int>(number);
        return true;
    }
    for (int e = 1; e < 256; ++e) {
        const char* known = strerrorname_np(e);
        if (known != nullptr && name == known) {
            *status = -e;
            return true;
        }
    }
    return false;
}

std::string errnoName(int status)
{
    const char* name = strerrorname_np(-status);
    return name != nullptr ? name : std::to_string(status);
}

std::string errorText(const char* what)
{
    return std::string("error: ") + what + ": " + std::strerror(errno);
}

// A thread reads the next request into a region registered with a
// userfaultfd that nobody serves: the kernel's copy into it waits in the page
// fault until the process ends. Returns the userfaultfd, readable once the
// read is stuck there, or -1 with errno set.
int stallNextRead(int device)
{
    const int uffd = static_cast<int>(::syscall(SYS_userfaultfd, O_CLOEXEC | O_NONBLOCK));
    if (uffd < 0) return -1;
    // Registered ranges are whole pages.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t length = (MODELBUS_MAX_REQUEST + page - 1) / page * page;
    uffdio_api api = {};
    api.api = UFFD_API;
    void* region =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    uffdio_register reg = {};
    reg.range.start = reinterpret_cast<std::uintptr_t>(region);
    reg.range.len = length;
    reg.mode = UFFDIO_REGISTER_MODE_MISSING;
    if (::ioctl(uffd, UFFDIO_API, &api) < 0 || region == MAP_FAILED ||
        ::ioctl(uffd, UFFDIO_REGISTER, &reg) < 0) {
        const int err = errno;
        if (region != MAP_FAILED) ::munmap(region, length);
        ::close(uffd);
        errno = err;
        return -1;
    }
    // The read ends only with the process.
    std::thread([device, region] {
        [[maybe_unused]] const ssize_t got = ::read(device, region, MODELBUS_MAX_REQUEST);
    }).detach();
    return uffd;
}

std::string setI2cTimeout(unsigned int bus, unsigned int centiseconds)
{
    const std::string path = "/dev/i2c-" + std::to_string(bus);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errorText(path.c_str());
    const int status = ::ioctl(fd, I2C_TIMEOUT, static_cast<unsigned long>(centiseconds));
    const std::string answer = status < 0 ? errorText("I2C_TIMEOUT") : "ok";
    ::close(fd);
    return answer;
}

std::string control(Responder& r, const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty()) return "error: empty command";
    const std::string& command = words[0];
    int status = 0;
    if (command == "dump" && words.size() == 1) {
        ze::sim::ModelFields fields;
        r.models.model->dump(fields);
        return fields.text();
    }
    if (command == "power-cycle" && words.size() == 1) {
        r.board.powerCycle();
        return "ok";
    }
    if (command == "clear-faults" && words.size() == 1) {
        r.board.clearFaults();
        return "ok";
    }
    if (command == "fail-nth" && words.size() == 4) {
        unsigned int n = 0;
        if (words[1] != "write" && words[1] != "read") return "error: fail-nth write|read N ERRNO";
        if (!parseNumber(words[2], ~0u, &n) || n == 0) return "error: N counts from 1";
        if (!parseErrno(words[3], &status)) return "error: no errno named '" + words[3] + "'";
        const auto call = words[1] == "write" ? ze::sim::Call::I2CWrite : ze::sim::Call::I2CRead;
        r.board.failNth(call, n, status);
        return "ok";
    }
    if (command == "fail-matching" && (words.size() == 3 || words.size() == 4)) {
        unsigned int addr = 0;
        unsigned int sub = 0;
        std::optional<std::uint8_t> subAddr;
        if (!parseNumber(words[1], 0xFF, &addr)) return "error: ADDR is a byte, e.g. 0xE8";
        if (words.size() == 4) {
            if (!parseNumber(words[2], 0xFF, &sub)) return "error: SUB is a byte, e.g. 0x01";
            subAddr = static_cast<std::uint8_t>(sub);
        }
        if (!parseErrno(words.back(), &status)) {
            return "error: no errno named '" + words.back() + "'";
        }
        r.board.failMatching(static_cast<std::uint8_t>(addr), subAddr, status);
        return "ok";
    }
    if (command == "stall-read" && words.size() == 1) {
        if (r.stall >= 0) return "error: a stalled read is still on its way";
        r.stall = stallNextRead(r.device);
        return r.stall >= 0 ? "ok" : errorText("userfaultfd");
    }
    if (command == "i2c-timeout" && words.size() == 3) {
        unsigned int bus = 0;
        unsigned int centiseconds = 0;
        if (!parseNumber(words[1], ~0u, &bus)) return "error: BUS is a number, e.g. 1";
        if (!parseNumber(words[2], kMaxI2cTimeout, &centiseconds)) {
            return "error: CS is a number of 10 ms, e.g. 100";
        }
        return setI2cTimeout(bus, centiseconds);
    }
    return "error: unknown command '" + line +
           "' (dump, power-cycle, fail-nth, fail-matching, "
           "clear-faults, stall-read, i2c-timeout)";
}

// The levels of the panel's lines now; the gate's reaches the model, the
// switch decides whether the panel is on the bus at all.
struct Sample {
    Level gate = Level::Undriven;
    Level switchLine = Level::Undriven;
};

Sample sampleLines(Responder& r)
{
    Sample sample;
    if (!r.gate && !r.switchLine) return sample;
    std::string text;
    if (!readGpioDebugFile(&text)) {
        std::fprintf(stderr, "i2c-modelbus-responder: %s: %s (is debugfs mounted?)\n",
                     kGpioDebugFile, std::strerror(errno));
        return sample;
    }
    const GpioSnapshot snapshot(text);
    if (r.gate) sample.gate = snapshot.level(*r.gate);
    if (r.switchLine) sample.switchLine = snapshot.level(*r.switchLine);
    return sample;
}

// An undriven gate rests away from the access level, as its pull holds it.
// The level is only seen when a transfer comes, but it was set before: the
// driver waits after opening the gate. A change is therefore credited with
// the gate's settling time, as if it had happened that long ago.
void applyGate(Responder& r, Level gate)
{
    if (!r.gate) return;
    const unsigned int rest = r.panel.gpioStatus != 0 ? 0 : 1;
    const unsigned int level = gate == Level::Undriven ? rest : gate == Level::High ? 1 : 0;
    if (r.board.gpioLevel(r.panel.gpioAddr) == level) return;
    r.board.gpioSetValue(r.panel.gpioAddr, level);
    r.creditUs += ze::sim::AuoChip::kGateSettleUs;
}

// Returns the reply to write back.
std::vector<std::uint8_t> serveRequest(Responder& r, const std::uint8_t* data, std::size_t size)
{
    std::uint32_t id = 0;
    std::vector<Message> messages;
    if (!parseRequest(data, size, &id, &messages)) {
        std::fprintf(stderr, "i2c-modelbus-responder: a malformed request of %zu bytes\n", size);
        return encodeReply(id, -EPROTO, messages);
    }
    const std::string request = describe(messages, false);

    const Sample sample = sampleLines(r);
    applyGate(r, sample.gate);
    // Switched off, the panel is not on the bus: the board's switch model
    // cuts it off, and nobody acknowledges.
    if (r.switchLine) {
        r.board.gpioSetValue(ze::sim::kI2cSwitchGpio, sample.switchLine == Level::High ? 1 : 0);
    }
    const int status = serve(r.board, kBoardBus, messages);

    std::fprintf(stderr, "xfer %lu: %s", ++r.transfers,
                 (status == 0 ? describe(messages, true) : request).c_str());
    if (r.gate) std::fprintf(stderr, " gate=%s", levelName(sample.gate));
    if (r.switchLine) std::fprintf(stderr, " switch=%s", levelName(sample.switchLine));
    std::fprintf(stderr, " -> %s\n", status == 0 ? "ok" : errnoName(status).c_str());
    return encodeReply(id, status, messages);
}

// Serves until a signal ends the process; returns on an error of the device.
int run(Responder& r, const std::string& devicePath)
{
    const int device = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC);
    if (device < 0) {
        const int err = errno;
        std::fprintf(stderr, "i2c-modelbus-responder: %s: %s (%s)\n", devicePath.c_str(),
                     std::strerror(err),
                     err == EBUSY ? "another responder serves the adapter"
                                  : "is the i2c-modelbus module loaded?");
        return 1;
    }
    r.device = device;
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<std::uint8_t> request(MODELBUS_MAX_REQUEST);
    std::string pending;  // control input not yet ended by a newline
    pollfd fds[2] = {{device, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    nfds_t watched = 2;
    for (;;) {
        // The adapter is left alone until the stalled read has taken its transfer.
        fds[0].fd = r.stall >= 0 ? r.stall : device;
        if (::poll(fds, watched, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("i2c-modelbus-responder: poll");
            return 1;
        }
        if (r.stall >= 0 && (fds[0].revents & POLLIN)) {
            uffd_msg fault;
            if (::read(r.stall, &fault, sizeof fault) == sizeof fault) {
                std::fprintf(stderr, "xfer %lu: stalled in a page fault\n", ++r.transfers);
                // Left open: closing it would let the fault complete.
                r.stall = -1;
            }
        } else if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(device, request.data(), request.size());
            if (got < 0 && errno != EAGAIN && errno != EINTR) {
                std::perror("i2c-modelbus-responder: reading a transfer");
                return 1;
            }
            if (got >= static_cast<ssize_t>(sizeof(modelbus_request))) {
                const std::vector<std::uint8_t> reply =
                    serveRequest(r, request.data(), static_cast<std::size_t>(got));
                // A transfer that timed out meanwhile refuses its late reply.
                if (::write(device, reply.data(), reply.size()) < 0 && errno != ESTALE) {
                    std::perror("i2c-modelbus-responder: answering a transfer");
                }
            }
        }
        if (watched > 1 && (fds[1].revents & (POLLIN | POLLHUP))) {
            char chunk[256];
            const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
            // Without a controller the adapter is still served.
            if (got <= 0) watched = 1;
            if (got > 0) pending.append(chunk, static_cast<std::size_t>(got));
            for (std::string::size_type nl; (nl = pending.find('\n')) != std::string::npos;) {
                const std::string answer = control(r, pending.substr(0, nl));
                pending.erase(0, nl + 1);
                std::printf("%s\n", answer.c_str());
                std::fflush(stdout);
            }
        }
    }
}

}  // namespace
}  // namespace modelbus

int main(int argc, char** argv)
{
    using namespace modelbus;
    Options options;
    CLI::App app{
        "i2c-modelbus-responder: plays a panel's VCOM chip, as modelled for the simulated\n"
        "board, behind the i2c-modelbus kernel adapter."};
    app.footer(kFooter);
    std::string chips;
    for (const ze::ic::catalogue::ChipInfo& chip : ze::ic::catalogue::kChips) {
        chips += (chips.empty() ? "" : ", ") + std::string(chip.name);
    }
    app.add_option("chip", options.chip, chips)->required();
    app.add_option("--addr", options.vcomAddr, "the chip's 8-bit address (VcomAddr)")
        ->capture_default_str()
        ->check(CLI::Range(0u, 0xFFu));
    app.add_option("--gpio-status", options.gpioStatus,
                   "the gate level that opens the AUO (GpioStatus)")
        ->capture_default_str()
        ->check(CLI::Range(0u, 1u));
    app.add_option("--gate", options.gate, "CHIP:LINE carrying the AUO's access gate");
    app.add_option("--switch", options.switchLine,
                   "CHIP:LINE of the I2C switch: the panel is on the bus only while it is high");
    app.add_option("--device", options.device, "the adapter's character device")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    auto r = std::make_unique<Responder>();
    const ze::ic::catalogue::ChipInfo* chip = ze::ic::catalogue::byName(options.chip.c_str());
    const ze::sim::ChipModel* model = chip != nullptr ? ze::sim::chipModel(chip->typeIdx) : nullptr;
    if (model == nullptr) {
        std::fprintf(stderr, "i2c-modelbus-responder: no chip named '%s' (see --help)\n",
                     options.chip.c_str());
        return 2;
    }
    for (auto [text, line] :
         {std::pair{&options.gate, &r->gate}, std::pair{&options.switchLine, &r->switchLine}}) {
        LineAddress address;
        if (text->empty()) continue;
        if (!parseLineAddress(*text, &address)) {
            std::fprintf(stderr,
                         "i2c-modelbus-responder: '%s' is not CHIP:LINE, e.g. gpiochip0:4\n",
                         text->c_str());
            return 2;
        }
        *line = address;
    }
    if (model->gated && !r->gate) {
        std::fprintf(stderr,
                     "i2c-modelbus-responder: the %s answers only through its access "
                     "gate: name its line with --gate CHIP:LINE\n",
                     chip->label);
        return 2;
    }
    r->panel.typeIdx = chip->typeIdx;
    r->panel.i2cBus = kBoardBus;
    r->panel.vcomAddr = static_cast<std::uint8_t>(options.vcomAddr);
    r->panel.gpioStatus = options.gpioStatus;
    r->panel.i2cSwitchType = r->switchLine ? 1 : 0;
    r->models = ze::sim::installPanel(r->board, r->panel);
    // The transfer log on standard error is the record; the board's own would only grow.
    r->board.setTraceEnabled(false);

    // A controller that goes away must not take the adapter with it.
    std::signal(SIGPIPE, SIG_IGN);
    return run(*r, options.device);
}
