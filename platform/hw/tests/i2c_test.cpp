// I2C through i2c-dev: what reaches the kernel, for each kind of adapter.

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ze/test/log_capture.h>

#include "fake_adapter.h"
#include "fake_gpio.h"

namespace ze {
namespace test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ze::platform::LinuxBackend;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<KernelMessage>;

constexpr unsigned int kBus = 1;
constexpr std::uint8_t kDevice = 0xE8;  // 7-bit 0x74
constexpr std::uint8_t kSub = 0x05;
constexpr int kNoSub = -1;

I2cTarget target(std::uint8_t devAddr, int subAddr = kSub)
{
    I2cTarget t = {};
    t.devAddr = devAddr;
    t.subAddrLen = subAddr == kNoSub ? 0 : 1;
    t.subAddr = static_cast<std::uint8_t>(subAddr == kNoSub ? 0 : subAddr);
    return t;
}

class HwI2c : public ::testing::Test {
protected:
    HwI2c()
    {
        ze::platform::LinuxBackendConfig config;
        config.buses = {kBus, 3};
        backend = std::make_unique<LinuxBackend>(config, adapter, std::make_shared<FakeGpio>());
    }

    int write(const I2cTarget& t, const Bytes& data)
    {
        return backend->i2cWrite(kBus, t, data.data(), static_cast<unsigned int>(data.size()));
    }
    int read(const I2cTarget& t, unsigned int length)
    {
        in.assign(length, 0);
        return backend->i2cRead(kBus, t, length, in.data());
    }

    LogCapture log;
    std::shared_ptr<FakeAdapter> adapter = std::make_shared<FakeAdapter>();
    std::unique_ptr<LinuxBackend> backend;
    Bytes in;
};

TEST(HwKernelLayout, RecordsHandedToTheKernelHaveItsLayoutForThisWordSize)
{
    const std::size_t pointer = sizeof(void*);
    EXPECT_EQ(8u, offsetof(i2c_msg, buf));
    EXPECT_EQ(8u + pointer, sizeof(i2c_msg));
    EXPECT_EQ(pointer, offsetof(i2c_rdwr_ioctl_data, nmsgs));
    EXPECT_EQ(8u, offsetof(i2c_smbus_ioctl_data, data));
    EXPECT_EQ(8u + pointer, sizeof(i2c_smbus_ioctl_data));
    EXPECT_EQ(34u, sizeof(i2c_smbus_data));
    EXPECT_EQ(pointer, sizeof(unsigned long)) << "I2C_FUNCS writes an unsigned long";
}

TEST_F(HwI2c, TheNodeOpensReadWriteOnceOnOpenOrFirstTransferAndClosesWithTheBackend)
{
    EXPECT_EQ(0, write(target(kDevice), {1}));
    EXPECT_EQ(0, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(0, read(target(kDevice), 1));

    EXPECT_EQ(std::vector<std::string>{"/dev/i2c-1"}, adapter->opened);
    EXPECT_EQ(O_RDWR, adapter->openFlags.at(0) & O_ACCMODE);
    EXPECT_EQ(1u, adapter->count(I2C_FUNCS));
    backend.reset();
    EXPECT_EQ(std::vector<int>{FakeAdapter::kFd}, adapter->closed);
}

TEST_F(HwI2c, ABusTheConfigurationLacksIsRefusedWithoutTouchingTheSystem)
{
    EXPECT_EQ(-ENODEV, backend->i2cOpen(2, QEL_I2C_MODE_DEFAULT));
    EXPECT_TRUE(adapter->opened.empty());
    EXPECT_THAT(log.bodies(), Contains(AllOf(HasSubstr("I2C bus 2 is not configured"),
                                             HasSubstr("[i2c]"))));
}

TEST_F(HwI2c, ANodeThatFailsToOpenIsReportedWithAHintAndOpenedOnceItWorks)
{
    adapter->failing[FakeAdapter::kOpen] = -ENOENT;
    EXPECT_EQ(-ENOENT, write(target(kDevice), {1}));
    EXPECT_THAT(log.bodies(), Contains(AllOf(HasSubstr("/dev/i2c-1"),
                                             HasSubstr(std::strerror(ENOENT)),
                                             HasSubstr("modprobe i2c-dev"))));
    adapter->failing = {{I2C_FUNCS, -ENOTTY}};
    EXPECT_EQ(-ENOTTY, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(std::vector<int>{FakeAdapter::kFd}, adapter->closed) << "not an i2c-dev node";

    adapter->failing.clear();
    EXPECT_EQ(0, write(target(kDevice), {1}));
    EXPECT_EQ(3u, adapter->opened.size());
}

TEST_F(HwI2c, MalformedTransfersAreRefusedBeforeTheyReachTheKernel)
{
    I2cTarget twoByteSub = target(kDevice);
    twoByteSub.subAddrLen = 2;
    EXPECT_EQ(-EINVAL, write(twoByteSub, {1}));
    EXPECT_EQ(-EINVAL, read(target(kDevice), 0));
    EXPECT_EQ(-EINVAL, write(target(kDevice, kNoSub), {}));
    EXPECT_EQ(-EINVAL, write(target(kDevice), Bytes(8192)));  // 8193 with the sub-address
    EXPECT_TRUE(adapter->transfers().empty());
}

// A full I2C master: I2C_RDWR messages.

TEST_F(HwI2c, AWriteIsOneMessageOfTheSubAddressIfAnyThenTheData)
{
    EXPECT_EQ(0, write(target(kDevice), {0x12, 0x34}));
    EXPECT_EQ(0, write(target(kDevice, kNoSub), {0x3C, 0x3D}));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ((Messages{{0x74, 0, 3, {kSub, 0x12, 0x34}}}), t[0].messages);
    EXPECT_EQ((Messages{{0x74, 0, 2, {0x3C, 0x3D}}}), t[1].messages);
}

TEST_F(HwI2c, AReadWritesTheSubAddressIfAnyThenReadsAfterARepeatedStart)
{
    adapter->answer = {0xAB, 0xCD};
    EXPECT_EQ(0, read(target(kDevice), 2));
    EXPECT_EQ((Bytes{0xAB, 0xCD}), in);
    EXPECT_EQ(0, read(target(kDevice, kNoSub), 1));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ((Messages{{0x74, 0, 1, {kSub}}, {0x74, I2C_M_RD, 2, {}}}), t[0].messages);
    EXPECT_EQ((Messages{{0x74, I2C_M_RD, 1, {}}}), t[1].messages);
}

TEST_F(HwI2c, BothEightBitFormsReachOneDeviceWhichIsSelectedOnce)
{
    EXPECT_EQ(0, write(target(0xE8), {1}));
    EXPECT_EQ(0, read(target(0xE9), 1));
    EXPECT_EQ(0, write(target(0x20), {1}));
    EXPECT_EQ((std::vector<unsigned long>{0x74, 0x10}), adapter->selected());
    EXPECT_EQ(0x74, std::get<0>(adapter->transfers().at(1).messages.at(0)));
}

TEST_F(HwI2c, AFailedTransferReturnsItsErrnoNamingBusDeviceSubAddressAndAHint)
{
    adapter->failing[I2C_RDWR] = -ENXIO;
    EXPECT_EQ(-ENXIO, write(target(kDevice), {1}));
    EXPECT_THAT(log.bodies(),
                Contains(AllOf(HasSubstr("/dev/i2c-1"), HasSubstr("device 0x74 (8-bit 0xE8)"),
                               HasSubstr("sub-address 0x05"), HasSubstr(std::strerror(ENXIO)),
                               HasSubstr("no device answers at this address"))));
    adapter->failing.clear();
    adapter->rdwrDone = 1;
    EXPECT_EQ(-EIO, read(target(kDevice), 2)) << "only one of two messages went";
}

TEST_F(HwI2c, ADeviceOwnedByAKernelDriverIsRefusedAndAskedForAgainNextTime)
{
    adapter->failing[I2C_SLAVE] = -EBUSY;
    EXPECT_EQ(-EBUSY, write(target(kDevice), {1}));
    EXPECT_EQ(-EBUSY, write(target(kDevice), {1}));
    EXPECT_TRUE(adapter->transfers().empty());
    EXPECT_EQ(2u, adapter->count(I2C_SLAVE));
    EXPECT_THAT(log.bodies(), Contains(HasSubstr("kernel driver owns this address")));
}

// An SMBus-only adapter such as i2c-stub: the SMBus transaction with the same wire bytes.

class HwSmbus : public HwI2c {
protected:
    HwSmbus() { adapter->functions = FakeAdapter::kStub; }
};

TEST_F(HwSmbus, EachTransferBecomesTheTransactionWithTheSameBytesOnTheWire)
{
    const Bytes eight = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint8_t w = I2C_SMBUS_WRITE;
    const std::uint8_t r = I2C_SMBUS_READ;
    const struct {
        const char* what;
        bool read;
        int sub;
        Bytes data;  // written, or as many bytes read
        KernelSmbus expected;
    } cases[] = {
        {"1-byte write", false, kSub, {0x12}, {w, kSub, I2C_SMBUS_BYTE_DATA, true, {0x12}}},
        {"1-byte read", true, kSub, {0}, {r, kSub, I2C_SMBUS_BYTE_DATA, true, {}}},
        {"2-byte read", true, kSub, {0, 0}, {r, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, {2}}},
        {"3-byte write", false, kSub, {7, 8, 9},
         {w, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, {3, 7, 8, 9}}},
        {"5-byte write", false, kSub, {1, 2, 3, 4, 5},
         {w, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, {5, 1, 2, 3, 4, 5}}},
        {"8-byte write", false, kSub, {1, 2, 3, 4, 5, 6, 7, 8},
         {w, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, {8, 1, 2, 3, 4, 5, 6, 7, 8}}},
        {"write without sub-address", false, kNoSub, {0x3C}, {w, 0x3C, I2C_SMBUS_BYTE, false, {}}},
        {"read without sub-address", true, kNoSub, {0}, {r, 0, I2C_SMBUS_BYTE, true, {}}},
        {"sub-address alone", false, kSub, {}, {w, kSub, I2C_SMBUS_BYTE, false, {}}},
    };
    adapter->answer = {0x9C, 0x9D};
    for (const auto& c : cases) {
        adapter->calls.clear();
        const auto length = static_cast<unsigned int>(c.data.size());
        EXPECT_EQ(0, c.read ? read(target(kDevice, c.sub), length)
                            : write(target(kDevice, c.sub), c.data))
            << c.what;
        const std::vector<KernelCall> t = adapter->transfers();
        ASSERT_EQ(1u, t.size()) << c.what;
        EXPECT_EQ(c.expected, t[0].smbus) << c.what;
        if (c.read) {
            EXPECT_EQ(Bytes(adapter->answer.begin(), adapter->answer.begin() + length), in);
        }
    }
}

TEST_F(HwSmbus, TwoByteTransfersUseWordDataLowByteFirstWhenI2cBlockIsMissing)
{
    adapter->functions = I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA;
    adapter->answer = {0x34, 0x12};
    EXPECT_EQ(0, read(target(kDevice), 2));
    EXPECT_EQ((Bytes{0x34, 0x12}), in);
    EXPECT_EQ(0, write(target(kDevice), {0x56, 0x78}));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_READ, kSub, I2C_SMBUS_WORD_DATA, true, {}}), t[0].smbus);
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, kSub, I2C_SMBUS_WORD_DATA, true, {0x56, 0x78}}),
              t[1].smbus);
}

TEST_F(HwSmbus, WhatTheAdapterLacksOrNoTransactionExpressesIsRefused)
{
    adapter->functions = I2C_FUNC_SMBUS_BYTE_DATA;
    EXPECT_EQ(-EINVAL, read(target(kDevice, kNoSub), 2));
    EXPECT_EQ(-EINVAL, read(target(kDevice), 33));
    EXPECT_EQ(-EINVAL, write(target(kDevice), Bytes(33)));
    EXPECT_EQ(-EOPNOTSUPP, read(target(kDevice), 3));
    EXPECT_EQ(-EOPNOTSUPP, write(target(kDevice, kNoSub), {1}));
    EXPECT_TRUE(adapter->transfers().empty());
    EXPECT_THAT(log.bodies(),
                Contains(HasSubstr("adapter lacks I2C_RDWR and SMBus I2C block read")));
    EXPECT_THAT(log.bodies(), Contains(AllOf(HasSubstr("without sub-address"),
                                             HasSubstr("SMBus send byte"))));
}

TEST_F(HwSmbus, ABlockReadThatComesBackShortFails)
{
    adapter->answer = {0x01};
    EXPECT_EQ(-EIO, read(target(kDevice), 3));
}

}  // namespace
}  // namespace test
}  // namespace ze
