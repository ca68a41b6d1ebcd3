#pragma once
// The bus traffic of an operation as text: a timeline on the monotonic clock
// (lines up with ftrace and logic-analyser captures), i2ctransfer command
// lines to replay by hand, or JSON.

#include <string>
#include <vector>

#include <ze/platform/trace.h>

#include <nlohmann/json.hpp>

namespace vcomctl {

using TraceEntry = ze::platform::TraceEntry;

// "0x74 [0xE8]": the 7-bit address as i2c-tools and the kernel name it, the
// 8-bit form of the board file in brackets.
std::string deviceText(unsigned int addr8);
// "I2C write to 0x74 [0xE8] reg 0x01 on bus 1", "GPIO 168 set to 1"
std::string describeCall(const TraceEntry& entry);
// A line per entry: the timeline's
//   "     5.001000  W  bus 1  0x74 [0xE8]  reg 0x01  data 34       ok"
// or, `asI2ctransfer`, "i2ctransfer -y 1 w2@0x74 0x01 0x34" with calls that
// are no I2C transfer as shell comments, so that the lines paste as they are.
std::string traceText(const std::vector<TraceEntry>& entries, bool asI2ctransfer);
nlohmann::ordered_json traceJson(const std::vector<TraceEntry>& entries);

}  // namespace vcomctl
