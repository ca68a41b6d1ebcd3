#include <string>

#include <gtest/gtest.h>

#include "report.h"
#include "trace.h"

namespace vcomctl {
namespace {

TraceEntry write(std::uint64_t timeUs, std::uint8_t sub, std::vector<std::uint8_t> data,
                 int status = 0)
{
    TraceEntry e;
    e.timeUs = timeUs;
    e.call = ze::platform::Call::I2CWrite;
    e.bus = 1;
    e.devAddr = 0xE8;
    e.subAddrLen = 1;
    e.subAddr = sub;
    e.data = std::move(data);
    e.status = status;
    return e;
}

TEST(TraceLines, ShowTimeDirectionDeviceRegisterBytesAndStatus)
{
    EXPECT_EQ(formatTraceLine(write(81102, 0x25, {0x20}), 0),
              "    81.102 ms  W  bus 1  dev 0xE8  reg 0x25  data 20         ok");
    TraceEntry read = write(2000, 0x26, {}, -6);
    read.call = ze::platform::Call::I2CRead;
    read.subAddrLen = 0;
    EXPECT_EQ(formatTraceLine(read, 1000),
              "     1.000 ms  R  bus 1  dev 0xE8  reg --    data --         "
              "status -6 (No such device or address)");
    TraceEntry gpio;
    gpio.timeUs = 500;
    gpio.call = ze::platform::Call::GpioSetValue;
    gpio.bus = 168;
    gpio.value = 1;
    EXPECT_EQ(formatTraceLine(gpio, 1000).substr(0, 34), "     0.000 ms  G  gpio 168 = 1    ");
}

CommandResult readOf(unsigned int value)
{
    CommandResult r;
    r.name = "read";
    r.op = Op::Read;
    r.value = value;
    return r;
}

TEST(TheJsonReport, GivesAFailedReadNoValueButTheReason)
{
    RunReport report;
    report.ok = false;
    report.exitCode = kExitFailed;
    report.error = "read failed";
    CommandResult read = readOf(0);
    read.ok = false;
    read.error = "read failed";
    read.traced = true;
    read.trace = {write(1500, 0xFF, {0x01}, -6)};
    read.traceOriginUs = 1000;
    report.results = {read};
    EXPECT_EQ(jsonReport(report),
              R"({"ok":false,"error":"read failed","results":[)"
              R"({"command":"read","ok":false,"error":"read failed","trace":[)"
              R"({"t_us":500,"op":"write","bus":1,"dev":232,"reg":255,"data":[1],"status":-6}]}]})"
              "\n");
}

TEST(PlainResults, ShowTheValueReadAndHideFailuresWithoutTrace)
{
    EXPECT_EQ(plainResult(readOf(128)), "read: 128 (0x80)\n");
    CommandResult failed = readOf(0);
    failed.ok = false;
    EXPECT_EQ(plainResult(failed), "");
    failed.traced = true;
    failed.trace = {write(0, 0x01, {})};
    EXPECT_EQ(plainResult(failed).substr(0, 22), "read: failed\n       0.");
}

}  // namespace
}  // namespace vcomctl
