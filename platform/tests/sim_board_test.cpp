#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/board.h>
#include <ze/sim/register_file.h>

namespace {

using namespace ze::sim;
using Bytes = std::vector<std::uint8_t>;

std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
        text += (i == 0 ? "" : " ") + std::string(byte);
    }
    return text;
}

std::string failed(int status)
{
    return "status " + std::to_string(status);
}

// Records the phases addressed to it: "W 05 01" (write phase), "R 2" (read
// phase of two bytes, answered 40 41).
class PhaseRecorder : public I2cDevice {
public:
    int write(const std::uint8_t* bytes, std::size_t count) override
    {
        phases.push_back(count == 0 ? "W" : "W " + hexBytes(bytes, count));
        return writeStatus;
    }
    int read(std::uint8_t* out, std::size_t count) override
    {
        phases.push_back("R " + std::to_string(count));
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(0x40 + i);
        return readStatus;
    }
    void powerCycle() override { ++powerCycles; }

    std::vector<std::string> phases;
    int writeStatus = 0;
    int readStatus = 0;
    int powerCycles = 0;
};

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        board_.addBus(1);
        board_.attach(1, 0xE8, chip_);
        board_.attach(1, 0x20, recorder_);
        board_.setClock([this] { return now_; });
    }

    static I2cTarget target(std::uint8_t dev, std::optional<std::uint8_t> sub)
    {
        I2cTarget t{};
        t.devAddr = dev;
        t.subAddrLen = sub ? 1 : 0;
        t.subAddr = sub.value_or(0);
        return t;
    }
    int write(std::uint8_t dev, std::optional<std::uint8_t> sub, Bytes data, unsigned int bus = 1)
    {
        return board_.i2cWrite(bus, target(dev, sub), data.data(),
                               static_cast<unsigned int>(data.size()));
    }
    // The bytes read, or failed(status).
    std::string read(std::uint8_t dev, std::optional<std::uint8_t> sub, unsigned int length,
                     unsigned int bus = 1)
    {
        Bytes buffer(length, 0xEE);
        const int status = board_.i2cRead(bus, target(dev, sub), length, buffer.data());
        if (status == 0) return hexBytes(buffer.data(), length);
        EXPECT_EQ(buffer, Bytes(length, 0xEE)) << "a failed read filled the buffer";
        return failed(status);
    }

    Board board_;
    std::shared_ptr<RegisterFile> chip_ = std::make_shared<RegisterFile>();
    std::shared_ptr<PhaseRecorder> recorder_ = std::make_shared<PhaseRecorder>();
    std::uint64_t now_ = 0;
};

TEST_F(SimBoard, ADeviceAnswersBothEightBitFormsOfItsAddressAndNothingElse)
{
    EXPECT_EQ(write(0xE8, 0x10, {0xAA}), 0);
    EXPECT_EQ(write(0xE9, 0x11, {0xBB}), 0);
    EXPECT_EQ(read(0xE9, 0x10, 2), "AA BB");
    EXPECT_EQ(read(0xE8, 0x11, 1), "BB");
    EXPECT_TRUE(recorder_->phases.empty());

    EXPECT_EQ(write(0xEA, 0x10, {1}), kAddressNack);
    EXPECT_EQ(read(0xEB, 0x10, 1), failed(kAddressNack));
    EXPECT_EQ(write(0xE8, 0x10, {1}, 2), kNoSuchBus);
    EXPECT_EQ(read(0xE8, 0x10, 1, 2), failed(kNoSuchBus));
    EXPECT_EQ(board_.i2cOpen(1, 1), 0);
    EXPECT_EQ(board_.i2cOpen(2, 1), kNoSuchBus);

    // Wiring mistakes: an unknown bus, an address taken in its other 8-bit form.
    EXPECT_THROW(board_.attach(2, 0x40, chip_), std::invalid_argument);
    EXPECT_THROW(board_.attach(1, 0xE9, std::make_shared<RegisterFile>()), std::invalid_argument);
    board_.detach(1, 0xE9);
    EXPECT_EQ(write(0xE8, 0x00, {1}), kAddressNack);
}

TEST_F(SimBoard, TransfersReachTheDeviceAsWriteAndReadPhasesAndRefusalsComeBackAsTheStatus)
{
    EXPECT_EQ(write(0x20, 0x05, {1, 2, 3}), 0);
    EXPECT_EQ(write(0x21, std::nullopt, {7}), 0);
    EXPECT_EQ(write(0x20, std::nullopt, {}), 0);
    EXPECT_EQ(read(0x20, 0x05, 2), "40 41");
    EXPECT_EQ(read(0x20, std::nullopt, 1), "40");
    I2cTarget wide = target(0x20, 0x05);  // one sub-address byte at most
    wide.subAddrLen = 2;
    std::uint8_t byte = 1;
    EXPECT_EQ(board_.i2cWrite(1, wide, &byte, 1), -EINVAL);
    EXPECT_EQ(board_.i2cRead(1, wide, 1, &byte), -EINVAL);
    EXPECT_EQ(recorder_->phases,
              (std::vector<std::string>{"W 05 01 02 03", "W 07", "W", "W 05", "R 2", "R 1"}));

    recorder_->writeStatus = kDataNack;
    EXPECT_EQ(write(0x20, 0x05, {1}), kDataNack);
    EXPECT_EQ(read(0x20, 0x05, 1), failed(kDataNack));
    EXPECT_EQ(recorder_->phases.back(), "W 05") << "the read phase ran after a refused sub-address";
    recorder_->writeStatus = 0;
    recorder_->readStatus = -EAGAIN;
    EXPECT_EQ(read(0x20, 0x05, 2), failed(-EAGAIN));
    EXPECT_TRUE(board_.trace().back().data.empty());
}

TEST_F(SimBoard, TheTraceRecordsEveryCallWithItsTimeTargetAndBytes)
{
    board_.addGpio(168);
    now_ = 12000;
    write(0xE9, 0x01, {0x34});
    now_ = 12500;
    read(0xE8, 0x01, 1);
    read(0xEA, std::nullopt, 2);
    board_.gpioSetValue(168, 1);
    board_.displaySetFreerunVfreq(2);
    int setting = 0;
    board_.displayGetFreerunVfreq(&setting);

    std::vector<std::string> lines;
    for (const TraceEntry& e : board_.trace()) lines.push_back(formatTraceEntry(e));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "12000us I2CWrite bus=1 dev=0xE9 sub[1]=0x01 data=34 status=0",
                         "12500us I2CRead bus=1 dev=0xE8 sub[1]=0x01 data=34 status=0",
                         "12500us I2CRead bus=1 dev=0xEA sub[0]=0x00 data= status=" +
                             std::to_string(kAddressNack),
                         "12500us GpioSetValue gpio=168 level=1 status=0",
                         "12500us DisplaySetFreerunVfreq setting=2 status=0",
                         "12500us DisplayGetFreerunVfreq setting=2 status=0"}));
    board_.clearTrace();
    EXPECT_TRUE(board_.trace().empty());
}

TEST_F(SimBoard, TheNthCallOfAKindFailsOnceCountingFromWhenItWasArmed)
{
    EXPECT_EQ(write(0xE8, 0x00, {1}), 0);
    board_.failNth(Call::I2CWrite, 2, -EIO);
    EXPECT_EQ(read(0xE8, 0x00, 1), "01");
    EXPECT_EQ(write(0xE8, 0x00, {2}), 0);
    EXPECT_EQ(write(0xE8, 0x00, {3}), -EIO);
    EXPECT_EQ(chip_->reg(0x00), 2) << "a faulted write reached the device";
    EXPECT_EQ(write(0xE8, 0x00, {4}), 0);
    EXPECT_EQ(board_.trace()[3].status, -EIO);
    EXPECT_EQ(board_.trace()[3].data, Bytes{3});

    board_.failNth(Call::I2CRead, 1, kAddressNack);
    EXPECT_EQ(read(0xE8, 0x00, 1), failed(kAddressNack));
    EXPECT_EQ(read(0xE8, 0x00, 1), "04");
    EXPECT_THROW(board_.failNth(Call::I2CRead, 0, -EIO), std::invalid_argument);
}

TEST_F(SimBoard, MatchingFaultsHitOnlyTheirAddressAndSubAddressUntilCleared)
{
    board_.failMatching(0xE8, 0x03, -EIO);
    board_.failMatching(0x20, std::nullopt, kAddressNack);
    EXPECT_EQ(write(0xE8, 0x03, {1}), -EIO);
    EXPECT_EQ(read(0xE8, 0x03, 1), failed(-EIO));
    EXPECT_EQ(write(0xE8, 0x04, {1}), 0);
    EXPECT_EQ(write(0xE9, 0x03, {1}), 0);
    EXPECT_EQ(write(0xE8, std::nullopt, {0x03, 1}), 0);
    EXPECT_EQ(write(0x20, 0x09, {1}), kAddressNack);
    EXPECT_EQ(read(0x20, std::nullopt, 1), failed(kAddressNack));
    EXPECT_TRUE(recorder_->phases.empty());
    board_.clearFaults();
    EXPECT_EQ(write(0xE8, 0x03, {1}), 0);
    EXPECT_EQ(write(0x20, 0x09, {1}), 0);
}

TEST_F(SimBoard, GpioLinesKeepTheLevelAsGivenAndListenersMayUseTheBoard)
{
    board_.addGpio(168);
    board_.addGpio(7);
    std::vector<std::string> heard;
    board_.onGpioChange([&](unsigned int gpio, unsigned int level) {
        heard.push_back(std::to_string(gpio) + "=" + std::to_string(level));
        if (gpio == 168) board_.gpioSetValue(7, *board_.gpioLevel(168) + 1);
    });
    EXPECT_EQ(board_.gpioSetValue(169, 1), kNoSuchLine);
    EXPECT_EQ(board_.gpioSetValue(168, 5), 0);
    board_.failNth(Call::GpioSetValue, 1, -EBUSY);
    EXPECT_EQ(board_.gpioSetValue(168, 0), -EBUSY);
    EXPECT_EQ(board_.gpioLevel(168), 5u);
    EXPECT_EQ(heard, (std::vector<std::string>{"168=5", "7=6"}));
}

TEST_F(SimBoard, APowerCycleReachesEachDeviceOnce)
{
    board_.addBus(3);
    board_.attach(3, 0x30, recorder_);
    board_.powerCycle();
    EXPECT_EQ(recorder_->powerCycles, 1);
}

}  // namespace
