#include "trace_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace vcomctl {
namespace {

using ze::platform::Call;
using Json = nlohmann::ordered_json;

constexpr std::uint64_t kNsPerSecond = 1000000000;
constexpr std::uint64_t kNsPerUs = 1000;

std::string hexByte(unsigned int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

bool isTransfer(Call call)
{
    return call == Call::I2CWrite || call == Call::I2CRead;
}

std::string bytes(const std::vector<std::uint8_t>& data, const char* separator, bool prefix)
{
    std::string out;
    char text[8];
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, prefix ? "0x%02X" : "%02X", byte);
        if (!out.empty()) out += separator;
        out += text;
    }
    return out;
}

// How the timeline (a letter) and the JSON name each call, in Call's order.
struct CallNames {
    const char* letter;
    const char* json;
};
constexpr CallNames kCallNames[] = {
    {"O", "i2c-open"}, {"W", "i2c-write"},   {"R", "i2c-read"},
    {"G", "gpio"},     {"D", "freerun-get"}, {"D", "freerun-set"},
};

const CallNames& namesOf(Call call)
{
    return kCallNames[static_cast<int>(call)];
}

std::string what(const TraceEntry& e)
{
    switch (e.call) {
        case Call::I2CWrite:
        case Call::I2CRead: {
            const std::string reg = e.subAddrLen == 0 ? "--  " : hexByte(e.subAddr);
            const std::string data = bytes(e.data, " ", false);
            return "bus " + std::to_string(e.bus) + "  " + deviceText(e.devAddr) + "  reg " + reg +
                   "  data " + (data.empty() ? "--" : data);
        }
        case Call::GpioSetValue:
            return "gpio " + std::to_string(e.bus) + " = " + std::to_string(e.value);
        case Call::I2COpen:
            return "open bus " + std::to_string(e.bus) + " mode " + std::to_string(e.value);
        case Call::DisplayGetFreerunVfreq:
            return "free-run get: " + std::to_string(e.value);
        case Call::DisplaySetFreerunVfreq:
            return "free-run set " + std::to_string(e.value);
    }
    return "";
}

}  // namespace

std::string deviceText(unsigned int addr8)
{
    return hexByte(addr8 >> 1) + " [" + hexByte(addr8) + "]";
}

std::string describeCall(const TraceEntry& e)
{
    switch (e.call) {
        case Call::I2CWrite:
        case Call::I2CRead: {
            std::string text = e.call == Call::I2CWrite ? "I2C write to " : "I2C read from ";
            text += deviceText(e.devAddr);
            if (e.subAddrLen != 0) text += " reg " + hexByte(e.subAddr);
            return text + " on bus " + std::to_string(e.bus);
        }
        case Call::GpioSetValue:
            return "GPIO " + std::to_string(e.bus) + " set to " + std::to_string(e.value);
        case Call::I2COpen:
            return "opening I2C bus " + std::to_string(e.bus);
        case Call::DisplayGetFreerunVfreq:
            return "reading the display's free-run setting";
        case Call::DisplaySetFreerunVfreq:
            return "setting the display's free-run setting to " + std::to_string(e.value);
    }
    return "";
}

std::string describeStatus(int status)
{
    if (status == 0) return "ok";
    std::string text = "status " + std::to_string(status);
    if (status < 0) text += std::string(" (") + std::strerror(-status) + ")";
    return text;
}

std::string timelineLine(const TraceEntry& entry)
{
    const std::uint64_t ns = entry.monotonicNs;
    const char* kind = entry.transaction;
    char line[200];
    std::snprintf(line, sizeof line, "%6" PRIu64 ".%06" PRIu64 "  %s  %-44s  %s%s%s",
                  ns / kNsPerSecond, ns % kNsPerSecond / kNsPerUs, namesOf(entry.call).letter,
                  what(entry).c_str(), describeStatus(entry.status).c_str(), *kind ? "  " : "",
                  kind);
    return line;
}

std::string i2ctransferLine(const TraceEntry& e)
{
    if (!isTransfer(e.call)) return "# " + what(e) + "  " + describeStatus(e.status);
    const std::string addr = "@" + hexByte(e.devAddr >> 1);
    const std::string reg = e.subAddrLen != 0 ? " " + hexByte(e.subAddr) : "";
    std::string line = "i2ctransfer -y " + std::to_string(e.bus) + " ";
    if (e.call == Call::I2CWrite) {
        const std::string data = bytes(e.data, " ", true);
        line += "w" + std::to_string(e.subAddrLen + e.data.size()) + addr + reg +
                (data.empty() ? "" : " " + data);
    } else if (e.subAddrLen != 0) {
        line +=
            "w" + std::to_string(e.subAddrLen) + addr + reg + " r" + std::to_string(e.data.size());
    } else {
        line += "r" + std::to_string(e.data.size()) + addr;
    }
    if (e.call == Call::I2CRead && e.status == 0) line += "  # " + bytes(e.data, " ", true);
    if (e.status != 0) line += "  # " + describeStatus(e.status);
    return line;
}

Json traceJson(const std::vector<TraceEntry>& entries)
{
    Json out = Json::array();
    for (const TraceEntry& e : entries) {
        const bool transfer = isTransfer(e.call);
        out.push_back(Json{{"time_us", e.monotonicNs / kNsPerUs},
                           {"op", namesOf(e.call).json},
                           {"bus", e.call == Call::GpioSetValue ? Json() : Json(e.bus)},
                           {"addr", transfer ? Json(e.devAddr >> 1) : Json()},
                           {"reg", transfer && e.subAddrLen != 0 ? Json(e.subAddr) : Json()},
                           {"data", transfer ? Json(e.data) : Json()},
                           {"gpio", e.call == Call::GpioSetValue ? Json(e.bus) : Json()},
                           {"value", transfer ? Json() : Json(e.value)},
                           {"kind", *e.transaction ? Json(e.transaction) : Json()},
                           {"status", e.status}});
    }
    return out;
}

}  // namespace vcomctl
