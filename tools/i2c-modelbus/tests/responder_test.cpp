#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gpio_snapshot.h"
#include "transaction.h"

namespace modelbus {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kChip = 0x74;

// Records the phases it sees, reads answering A0 A1 ...
struct PhaseRecorder : ze::sim::I2cDevice {
    std::vector<std::string> phases;

    int write(const std::uint8_t* bytes, std::size_t count) override
    {
        phases.push_back("w" +
                         describe({{kChip, false, Bytes(bytes, bytes + count)}}, true).substr(4));
        return 0;
    }
    int read(std::uint8_t* out, std::size_t count) override
    {
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
        phases.push_back("r" + std::to_string(count));
        return 0;
    }
};

struct Bench {
    ze::sim::Board board;
    std::shared_ptr<PhaseRecorder> device = std::make_shared<PhaseRecorder>();

    Bench()
    {
        board.setTraceEnabled(true);
        board.addBus(0);
        board.attach(0, kChip << 1, device);
    }
    // The board's SoC calls, without their time stamps.
    std::vector<std::string> calls() const
    {
        std::vector<std::string> out;
        for (const ze::sim::TraceEntry& e : board.trace()) {
            const std::string line = ze::sim::formatTraceEntry(e);
            out.push_back(line.substr(line.find(' ') + 1));
        }
        return out;
    }
};

TEST(ResponderTransfers, ReachTheModelAsTheBackendsSocCallsWouldHave)
{
    struct Case {
        const char* shape;
        std::vector<Message> messages;
        std::vector<std::string> phases;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"write with a sub-address",
         {{kChip, false, {0x01, 0x80}}},
         {"w 01 80"},
         {"I2CWrite bus=0 dev=0xE8 sub[1]=0x01 data=80 status=0"}},
        {"sub-address, repeated start, read",
         {{kChip, false, {0x25}}, {kChip, true, Bytes(2)}},
         {"w 25", "r2"},
         {"I2CRead bus=0 dev=0xE9 sub[1]=0x25 data=A0,A1 status=0"}},
        {"one byte without sub-address (SMBus send byte)",
         {{kChip, false, {0x81}}},
         {"w 81"},
         {"I2CWrite bus=0 dev=0xE8 sub[0]=0x00 data=81 status=0"}},
        {"read without sub-address",
         {{kChip, true, Bytes(1)}},
         {"r1"},
         {"I2CRead bus=0 dev=0xE9 sub[0]=0x00 data=A0 status=0"}},
        {"two writes in one transfer",
         {{kChip, false, {0xE7, 0xEA}}, {kChip, false, {0x38, 0xB7}}},
         {"w e7 ea", "w 38 b7"},
         {"I2CWrite bus=0 dev=0xE8 sub[1]=0xE7 data=EA status=0",
          "I2CWrite bus=0 dev=0xE8 sub[1]=0x38 data=B7 status=0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        Bench bench;
        std::vector<Message> messages = c.messages;
        EXPECT_EQ(serve(bench.board, 0, messages), 0);
        EXPECT_EQ(bench.device->phases, c.phases);
        EXPECT_EQ(bench.calls(), c.calls);
    }
}

TEST(ResponderTransfers, StopAtTheFirstRefusedMessageWithItsStatus)
{
    Bench bench;
    bench.board.failMatching(0xE9, 0x25, ze::sim::kDataNack);
    std::vector<Message> messages = {{kChip, false, {0x01, 0x02}},
                                     {kChip, false, {0x25}},
                                     {kChip, true, Bytes(1)},
                                     {kChip, false, {0x26, 0x03}}};
    EXPECT_EQ(serve(bench.board, 0, messages), ze::sim::kDataNack);
    EXPECT_EQ(bench.device->phases, std::vector<std::string>{"w 01 02"});
}

TEST(ResponderRequests, AreRefusedWhenShorterOrLongerThanTheirHeaderSays)
{
    // id 7, two messages: write of 2 bytes to 0x74, read of 1 byte.
    const Bytes request = {7, 0, 0, 0,    2, 0, 0, 0, 0x74, 0, 0, 0,    2,
                           0, 0, 0, 0x74, 0, 1, 0, 1, 0,    0, 0, 0x01, 0x80};
    std::uint32_t id = 0;
    std::vector<Message> messages;
    ASSERT_TRUE(parseRequest(request.data(), request.size(), &id, &messages));
    EXPECT_EQ(id, 7u);
    EXPECT_EQ(describe(messages, false), "w@74 01 80 r@74[1]");
    EXPECT_FALSE(parseRequest(request.data(), request.size() - 1, &id, &messages));
    Bytes longer = request;
    longer.push_back(0);
    EXPECT_FALSE(parseRequest(longer.data(), longer.size(), &id, &messages));
}

TEST(GpioSnapshots, GiveTheLevelOfLinesOthersDriveAndNoneForTheRest)
{
    // As Linux 6.1 writes /sys/kernel/debug/gpio.
    const GpioSnapshot snapshot(
        "gpiochip0: GPIOs 504-511, parent: platform/9030000.pl061, 9030000.pl061:\n"
        " gpio-507 (                    |GPIO Key Poweroff   ) in  lo IRQ ACTIVE LOW\n"
        " gpio-508 (                    |vcomctl             ) out hi \n"
        " gpio-509 (                    |vcom (gate) x       ) out lo \n"
        "\n"
        "gpiochip1: GPIOs 496-503, parent: platform/other:\n"
        " gpio-496 (                    |vcomctl             ) out hi \n");
    const struct {
        LineAddress line;
        Level level;
    } cases[] = {
        {{"gpiochip0", 4}, Level::High},     {{"gpiochip0", 5}, Level::Low},
        {{"gpiochip0", 3}, Level::Undriven}, {{"gpiochip0", 6}, Level::Undriven},
        {{"gpiochip1", 0}, Level::High},     {{"gpiochip2", 0}, Level::Undriven},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.chip + ":" + std::to_string(c.line.offset));
        EXPECT_EQ(snapshot.level(c.line), c.level);
    }
}

}  // namespace
}  // namespace modelbus
