#include "ze/test/timeline.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include <qor/debug.h>

#include "ze/test/log_capture.h"
#include "ze/test/virtual_clock.h"

namespace ze {
namespace test {
namespace {

using ze::platform::Call;
using ze::platform::TraceEntry;

constexpr std::uint64_t kTransferPauseUs = 1000;

struct Event {
    enum class Kind { Wait, Call, Message };
    Kind kind = Kind::Wait;
    std::uint64_t waitUs = 0;
    TraceEntry call;
    std::uint32_t level = 0;
    std::string text;
};

std::mutex gMutex;
bool gRecording = false;
std::vector<Event> gEvents;

void note(Event event)
{
    std::lock_guard<std::mutex> lock(gMutex);
    if (gRecording) gEvents.push_back(std::move(event));
}

void noteWait(std::uint64_t us)
{
    Event event;
    event.kind = Event::Kind::Wait;
    event.waitUs = us;
    note(std::move(event));
}

std::string hex8(unsigned int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

bool isTransfer(const TraceEntry& call)
{
    return call.call == Call::I2CWrite || call.call == Call::I2CRead;
}

std::string function(const std::string& text)
{
    const std::string::size_type end = text.find("(): ");
    if (end == std::string::npos) return "";
    const std::string::size_type start = text.rfind(':', end);
    return text.substr(start + 1, end - start - 1);
}

// The failure report the transport gives for a failed call, as messages.
std::vector<std::string> transportReport(const TraceEntry& c)
{
    char line[128];
    std::vector<std::string> out;
    const bool write = c.call == Call::I2CWrite;
    const char* op = write ? "write" : "read";
    const auto add = [&](const char* what, unsigned int value) {
        std::snprintf(line, sizeof line, "[VCOMIC] I2C %s fail%s %s = 0x%x.\n", op,
                      write || out.size() > 0 ? "," : "", what, value);
        out.push_back(line);
    };
    add("u8devAddr", c.devAddr);
    add("iic_bus", c.bus);
    add("u32SubAddr", c.subAddr);
    add("regAddrCount", c.subAddrLen);
    if (write) add("value", c.data.empty() ? 0u : c.data[0]);
    std::snprintf(line, sizeof line, "[VCOMIC] QEL_I2C%s fail, ret = %d.\n",
                  write ? "Write" : "Read", c.status);
    out.push_back(line);
    return out;
}

// Whether the report of the failed call at events[at] follows it, whole.
bool reportFollows(const std::vector<Event>& events, std::size_t at)
{
    const TraceEntry& call = events[at].call;
    const std::string reporter = call.call == Call::I2CWrite ? "writeNumBytes" : "readNumBytes";
    const std::vector<std::string> report = transportReport(call);
    if (at + report.size() >= events.size()) return false;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const Event& e = events[at + 1 + i];
        if (e.kind != Event::Kind::Message || e.level != QOR_DEBUG_LEVEL_ERROR ||
            function(e.text) != reporter || stripPrefix(e.text) != report[i]) {
            return false;
        }
    }
    return true;
}

// Passes every call on to the target and notes it, with what it returned.
class CallRecorder : public ze::platform::SocBackend {
public:
    explicit CallRecorder(std::shared_ptr<SocBackend> target) : target_(std::move(target)) {}

    const char* name() const override { return target_->name(); }
    std::vector<unsigned int> buses() const override { return target_->buses(); }
    int i2cOpen(unsigned int bus, unsigned int mode) override
    {
        return forward(Call::I2COpen, bus, nullptr, static_cast<int>(mode),
                       [&] { return target_->i2cOpen(bus, mode); });
    }
    int i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                 unsigned int length) override
    {
        return forward(
            Call::I2CWrite, bus, &target, 0,
            [&] { return target_->i2cWrite(bus, target, data, length); }, data, length);
    }
    int i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                unsigned char* buffer) override
    {
        return forward(
            Call::I2CRead, bus, &target, 0,
            [&] { return target_->i2cRead(bus, target, length, buffer); }, buffer, length);
    }
    int gpioSetValue(unsigned int gpio, unsigned int level) override
    {
        return forward(Call::GpioSetValue, gpio, nullptr, static_cast<int>(level),
                       [&] { return target_->gpioSetValue(gpio, level); });
    }
    int displayGetFreerunVfreq(int* setting) override
    {
        return forward(
            Call::DisplayGetFreerunVfreq, 0, nullptr, 0,
            [&] { return target_->displayGetFreerunVfreq(setting); }, nullptr, 0, setting);
    }
    int displaySetFreerunVfreq(int setting) override
    {
        return forward(Call::DisplaySetFreerunVfreq, 0, nullptr, setting,
                       [&] { return target_->displaySetFreerunVfreq(setting); });
    }

private:
    // Bytes are noted after the call, so that a read shows what it returned;
    // a failed read returned none. `out` is a value the call hands back.
    template <class Pass>
    static int forward(Call call, unsigned int bus, const I2cTarget* target, int value, Pass pass,
                       const unsigned char* bytes = nullptr, unsigned int length = 0,
                       const int* out = nullptr)
    {
        Event event;
        event.kind = Event::Kind::Call;
        TraceEntry& e = event.call;
        e.call = call;
        e.bus = bus;
        e.value = value;
        if (target != nullptr) {
            e.devAddr = target->devAddr;
            e.subAddrLen = target->subAddrLen;
            e.subAddr = target->subAddr;
        }
        e.status = pass();
        if (bytes != nullptr && (call == Call::I2CWrite || e.status == 0))
            e.data.assign(bytes, bytes + length);
        if (out != nullptr) e.value = *out;
        note(std::move(event));
        return e.status;
    }

    std::shared_ptr<SocBackend> target_;
};

}  // namespace

void startTimeline()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gEvents.clear();
    gRecording = true;
    setWaitListener(noteWait);
}

void stopTimeline()
{
    setWaitListener(nullptr);
    std::lock_guard<std::mutex> lock(gMutex);
    gRecording = false;
    gEvents.clear();
}

void noteMessage(std::uint32_t level, const std::string& text)
{
    Event event;
    event.kind = Event::Kind::Message;
    event.level = level;
    event.text = text;
    note(std::move(event));
}

std::shared_ptr<ze::platform::SocBackend> recordCalls(
    std::shared_ptr<ze::platform::SocBackend> target)
{
    return std::make_shared<CallRecorder>(std::move(target));
}

std::string describe(const TraceEntry& e)
{
    const std::string status = " -> " + std::to_string(e.status);
    const std::string sub = e.subAddrLen ? "[" + hex8(e.subAddr) + "]" : "[]";
    switch (e.call) {
        case Call::I2COpen:
            return "open " + std::to_string(e.bus) + " mode " + std::to_string(e.value) + status;
        case Call::I2CWrite:
        case Call::I2CRead:
            return (e.call == Call::I2CWrite ? "write " : "read ") + hex8(e.devAddr) + " " + sub +
                   " " + hexBytes(e.data.data(), e.data.size()) + status;
        case Call::GpioSetValue:
            return "gpio " + std::to_string(e.bus) + "=" + std::to_string(e.value) + status;
        case Call::DisplayGetFreerunVfreq:
            return "freerun get " + std::to_string(e.value) + status;
        case Call::DisplaySetFreerunVfreq:
            return "freerun set " + std::to_string(e.value) + status;
    }
    return "?";
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += byte;
    }
    return out;
}

std::vector<std::string> timeline()
{
    std::vector<Event> events;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        events = gEvents;
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        switch (e.kind) {
            case Event::Kind::Wait: {
                const bool pause = e.waitUs == kTransferPauseUs && i + 1 < events.size() &&
                                   events[i + 1].kind == Event::Kind::Call &&
                                   isTransfer(events[i + 1].call);
                if (!pause) out.push_back("sleep " + std::to_string(e.waitUs));
                break;
            }
            case Event::Kind::Call: {
                std::string line = describe(e.call);
                if (e.call.status == 0) line.resize(line.size() - std::string(" -> 0").size());
                const bool paused = i > 0 && events[i - 1].kind == Event::Kind::Wait &&
                                    events[i - 1].waitUs == kTransferPauseUs;
                if (isTransfer(e.call) && !paused) line = "unpaused " + line;
                out.push_back(line);
                if (isTransfer(e.call) && e.call.status != 0 && reportFollows(events, i)) {
                    const bool write = e.call.call == Call::I2CWrite;
                    out.push_back(write ? "E writeNumBytes report" : "E readNumBytes report");
                    i += transportReport(e.call).size();
                }
                break;
            }
            case Event::Kind::Message:
                out.push_back((e.level == QOR_DEBUG_LEVEL_ERROR ? "E " : "I ") +
                              stripPrefix(e.text));
                break;
        }
    }
    return out;
}

}  // namespace test
}  // namespace ze
