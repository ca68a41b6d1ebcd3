#include "trace.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace vcomctl {
namespace {

std::string hexByte(unsigned int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string bytes(const std::vector<std::uint8_t>& data)
{
    std::string out;
    char text[4];
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        if (!out.empty()) out += ' ';
        out += text;
    }
    return out.empty() ? "--" : out;
}

const char* kindLetter(ze::platform::Call call)
{
    switch (call) {
        case ze::platform::Call::I2CWrite:
            return "W";
        case ze::platform::Call::I2CRead:
            return "R";
        case ze::platform::Call::GpioSetValue:
            return "G";
        case ze::platform::Call::I2COpen:
            return "O";
        case ze::platform::Call::DisplayGetFreerunVfreq:
        case ze::platform::Call::DisplaySetFreerunVfreq:
            return "D";
    }
    return "?";
}

std::string what(const TraceEntry& e)
{
    const std::string reg = e.subAddrLen == 0 ? "--  " : hexByte(e.subAddr);
    switch (e.call) {
        case ze::platform::Call::I2CWrite:
        case ze::platform::Call::I2CRead:
            return "bus " + std::to_string(e.bus) + "  dev " + hexByte(e.devAddr) + "  reg " + reg +
                   "  data " + bytes(e.data);
        case ze::platform::Call::GpioSetValue:
            return "gpio " + std::to_string(e.bus) + " = " + std::to_string(e.value);
        case ze::platform::Call::I2COpen:
            return "open bus " + std::to_string(e.bus) + " mode " + std::to_string(e.value);
        case ze::platform::Call::DisplayGetFreerunVfreq:
            return "free-run get: " + std::to_string(e.value);
        case ze::platform::Call::DisplaySetFreerunVfreq:
            return "free-run set " + std::to_string(e.value);
    }
    return "";
}

const char* jsonKind(ze::platform::Call call)
{
    switch (call) {
        case ze::platform::Call::I2CWrite:
            return "write";
        case ze::platform::Call::I2CRead:
            return "read";
        case ze::platform::Call::GpioSetValue:
            return "gpio";
        case ze::platform::Call::I2COpen:
            return "open";
        case ze::platform::Call::DisplayGetFreerunVfreq:
            return "freerun-get";
        case ze::platform::Call::DisplaySetFreerunVfreq:
            return "freerun-set";
    }
    return "?";
}

std::uint64_t elapsed(std::uint64_t timeUs, std::uint64_t originUs)
{
    return timeUs > originUs ? timeUs - originUs : 0;
}

}  // namespace

TraceTap::TraceTap(std::function<std::vector<TraceEntry>()> entries, Clock clock)
    : entries_(std::move(entries)), clock_(std::move(clock))
{
}

TraceTap TraceTap::forBackend(ze::platform::SocBackend& backend, Clock clock)
{
    backend.setClock(clock);
    backend.setTraceEnabled(true);
    return TraceTap([&backend] { return backend.trace(); }, clock);
}

TraceTap::Mark TraceTap::mark() const
{
    return Mark{entries_().size(), clock_()};
}

std::vector<TraceEntry> TraceTap::since(const Mark& mark) const
{
    std::vector<TraceEntry> all = entries_();
    if (mark.index >= all.size()) return {};
    return std::vector<TraceEntry>(all.begin() + static_cast<std::ptrdiff_t>(mark.index),
                                   all.end());
}

std::string describeStatus(int status)
{
    if (status == 0) return "ok";
    std::string text = "status " + std::to_string(status);
    if (status < 0) text += std::string(" (") + std::strerror(-status) + ")";
    return text;
}

std::string formatTraceLine(const TraceEntry& entry, std::uint64_t originUs)
{
    char line[160];
    std::snprintf(line, sizeof line, "%10.3f ms  %s  %-41s  %s",
                  static_cast<double>(elapsed(entry.timeUs, originUs)) / 1000.0,
                  kindLetter(entry.call), what(entry).c_str(),
                  describeStatus(entry.status).c_str());
    return line;
}

nlohmann::ordered_json traceJson(const std::vector<TraceEntry>& entries, std::uint64_t originUs)
{
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const TraceEntry& e : entries) {
        nlohmann::ordered_json entry;
        entry["t_us"] = elapsed(e.timeUs, originUs);
        entry["op"] = jsonKind(e.call);
        switch (e.call) {
            case ze::platform::Call::I2CWrite:
            case ze::platform::Call::I2CRead:
                entry["bus"] = e.bus;
                entry["dev"] = e.devAddr;
                entry["reg"] = e.subAddrLen == 0 ? nlohmann::ordered_json()
                                                 : nlohmann::ordered_json(e.subAddr);
                entry["data"] = e.data;
                break;
            case ze::platform::Call::GpioSetValue:
                entry["gpio"] = e.bus;
                entry["level"] = e.value;
                break;
            case ze::platform::Call::I2COpen:
                entry["bus"] = e.bus;
                entry["mode"] = e.value;
                break;
            case ze::platform::Call::DisplayGetFreerunVfreq:
            case ze::platform::Call::DisplaySetFreerunVfreq:
                entry["setting"] = e.value;
                break;
        }
        entry["status"] = e.status;
        out.push_back(std::move(entry));
    }
    return out;
}

}  // namespace vcomctl
