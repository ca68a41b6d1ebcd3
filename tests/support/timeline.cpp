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

std::string bytes(const std::vector<std::uint8_t>& data)
{
    std::string out;
    for (std::uint8_t b : data) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
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

class CallRecorder : public ze::platform::SocBackend {
public:
    explicit CallRecorder(std::shared_ptr<SocBackend> target) : target_(std::move(target)) {}

    const char* name() const override { return target_->name(); }
    std::vector<unsigned int> buses() const override { return target_->buses(); }
    int i2cOpen(unsigned int bus, unsigned int mode) override
    {
        TraceEntry e = entry(Call::I2COpen, bus);
        e.value = static_cast<int>(mode);
        return noted(e, target_->i2cOpen(bus, mode));
    }
    int i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                 unsigned int length) override
    {
        TraceEntry e = entry(Call::I2CWrite, bus, target);
        e.data.assign(data, data + length);
        return noted(e, target_->i2cWrite(bus, target, data, length));
    }
    int i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                unsigned char* buffer) override
    {
        TraceEntry e = entry(Call::I2CRead, bus, target);
        const int status = target_->i2cRead(bus, target, length, buffer);
        if (status == 0) e.data.assign(buffer, buffer + length);
        return noted(e, status);
    }
    int gpioSetValue(unsigned int gpio, unsigned int level) override
    {
        TraceEntry e = entry(Call::GpioSetValue, gpio);
        e.value = static_cast<int>(level);
        return noted(e, target_->gpioSetValue(gpio, level));
    }
    int displayGetFreerunVfreq(int* setting) override
    {
        TraceEntry e = entry(Call::DisplayGetFreerunVfreq, 0);
        const int status = target_->displayGetFreerunVfreq(setting);
        e.value = *setting;
        return noted(e, status);
    }
    int displaySetFreerunVfreq(int setting) override
    {
        TraceEntry e = entry(Call::DisplaySetFreerunVfreq, 0);
        e.value = setting;
        return noted(e, target_->displaySetFreerunVfreq(setting));
    }

private:
    static TraceEntry entry(Call call, unsigned int bus)
    {
        TraceEntry e;
        e.call = call;
        e.bus = bus;
        return e;
    }
    static TraceEntry entry(Call call, unsigned int bus, const I2cTarget& target)
    {
        TraceEntry e = entry(call, bus);
        e.devAddr = target.devAddr;
        e.subAddrLen = target.subAddrLen;
        e.subAddr = target.subAddr;
        return e;
    }
    static int noted(TraceEntry& e, int status)
    {
        e.status = status;
        Event event;
        event.kind = Event::Kind::Call;
        event.call = e;
        note(std::move(event));
        return status;
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
            return "write " + hex8(e.devAddr) + " " + sub + " " + bytes(e.data) + status;
        case Call::I2CRead:
            return "read " + hex8(e.devAddr) + " " + sub + " " + bytes(e.data) + status;
        case Call::GpioSetValue:
            return "gpio " + std::to_string(e.bus) + "=" + std::to_string(e.value) + status;
        case Call::DisplayGetFreerunVfreq:
            return "freerun get " + std::to_string(e.value) + status;
        case Call::DisplaySetFreerunVfreq:
            return "freerun set " + std::to_string(e.value) + status;
    }
    return "?";
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
