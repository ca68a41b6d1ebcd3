#include "report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vcomctl {
namespace {

using ze::platform::Call;
using Json = nlohmann::ordered_json;

constexpr std::uint64_t kNsPerSecond = 1000000000;
constexpr std::uint64_t kNsPerUs = 1000;

// Each call, in Call's order: its timeline letter, its JSON name and, for a
// call that is no transfer, its timeline text and its description ({n}: the
// bus or GPIO number, {v}: the value); a transfer's description starts so.
struct CallText {
    const char* letter;
    const char* json;
    const char* line;
    const char* described;
};
constexpr CallText kCallTexts[] = {
    {"O", "i2c-open", "open bus {n} mode {v}", "opening I2C bus {n}"},
    {"W", "i2c-write", "", "I2C write to "},
    {"R", "i2c-read", "", "I2C read from "},
    {"G", "gpio", "gpio {n} = {v}", "GPIO {n} set to {v}"},
    {"D", "freerun-get", "free-run get: {v}", "reading the display's free-run setting"},
    {"D", "freerun-set", "free-run set {v}", "setting the display's free-run setting to {v}"},
};

const CallText& textOf(Call call)
{
    return kCallTexts[static_cast<int>(call)];
}

bool isTransfer(Call call)
{
    return call == Call::I2CWrite || call == Call::I2CRead;
}

std::string filled(std::string text, const TraceEntry& e)
{
    const std::pair<const char*, int> fields[] = {{"{n}", static_cast<int>(e.bus)},
                                                  {"{v}", e.value}};
    for (const auto& [key, number] : fields) {
        const std::string::size_type at = text.find(key);
        if (at != std::string::npos) text.replace(at, std::strlen(key), std::to_string(number));
    }
    return text;
}

std::string bytes(const std::vector<std::uint8_t>& data, bool prefix)
{
    std::string out;
    char text[8];
    for (std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, prefix ? "0x%02X" : "%02X", byte);
        out += (out.empty() ? "" : " ") + std::string(text);
    }
    return out;
}

std::string hexByte(unsigned int value)
{
    return bytes({static_cast<std::uint8_t>(value)}, true);
}

std::string what(const TraceEntry& e)
{
    if (!isTransfer(e.call)) return filled(textOf(e.call).line, e);
    const std::string data = bytes(e.data, false);
    return "bus " + std::to_string(e.bus) + "  " + deviceText(e.devAddr) + "  reg " +
           (e.subAddrLen == 0 ? "--  " : hexByte(e.subAddr)) + "  data " +
           (data.empty() ? "--" : data);
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
                  ns / kNsPerSecond, ns % kNsPerSecond / kNsPerUs, textOf(entry.call).letter,
                  what(entry).c_str(), describeStatus(entry.status).c_str(), *kind ? "  " : "",
                  kind);
    return line;
}

std::string i2ctransferLine(const TraceEntry& e)
{
    if (!isTransfer(e.call)) return "# " + what(e) + "  " + describeStatus(e.status);
    const std::string addr = "@" + hexByte(e.devAddr >> 1);
    const std::string reg = e.subAddrLen != 0 ? " " + hexByte(e.subAddr) : "";
    const std::string read = " r" + std::to_string(e.data.size());
    std::string line = "i2ctransfer -y " + std::to_string(e.bus) + " ";
    if (e.call == Call::I2CWrite) {
        const std::string data = bytes(e.data, true);
        line += "w" + std::to_string(e.subAddrLen + e.data.size()) + addr + reg +
                (data.empty() ? "" : " " + data);
    } else if (e.subAddrLen != 0) {
        line += "w" + std::to_string(e.subAddrLen) + addr + reg + read;
    } else {
        line += read.substr(1) + addr;
    }
    if (e.call == Call::I2CRead && e.status == 0) line += "  # " + bytes(e.data, true);
    if (e.status != 0) line += "  # " + describeStatus(e.status);
    return line;
}

}  // namespace

std::string deviceText(unsigned int addr8)
{
    return hexByte(addr8 >> 1) + " [" + hexByte(addr8) + "]";
}

std::string describeCall(const TraceEntry& e)
{
    const std::string text = filled(textOf(e.call).described, e);
    if (!isTransfer(e.call)) return text;
    return text + deviceText(e.devAddr) + (e.subAddrLen != 0 ? " reg " + hexByte(e.subAddr) : "") +
           " on bus " + std::to_string(e.bus);
}

std::string traceText(const std::vector<TraceEntry>& entries, bool asI2ctransfer)
{
    std::string text;
    for (const TraceEntry& entry : entries)
        text += (asI2ctransfer ? i2ctransferLine(entry) : "  " + timelineLine(entry)) + "\n";
    return text;
}

Json traceJson(const std::vector<TraceEntry>& entries)
{
    Json out = Json::array();
    for (const TraceEntry& e : entries) {
        const bool transfer = isTransfer(e.call);
        const bool gpio = e.call == Call::GpioSetValue;
        out.push_back(Json{{"time_us", e.monotonicNs / kNsPerUs},
                           {"op", textOf(e.call).json},
                           {"bus", gpio ? Json() : Json(e.bus)},
                           {"addr", transfer ? Json(e.devAddr >> 1) : Json()},
                           {"reg", transfer && e.subAddrLen != 0 ? Json(e.subAddr) : Json()},
                           {"data", transfer ? Json(e.data) : Json()},
                           {"gpio", gpio ? Json(e.bus) : Json()},
                           {"value", transfer ? Json() : Json(e.value)},
                           {"kind", *e.transaction ? Json(e.transaction) : Json()},
                           {"status", e.status}});
    }
    return out;
}

}  // namespace vcomctl
