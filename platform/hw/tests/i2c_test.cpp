// I2C through i2c-dev: what reaches the kernel, per kind of adapter.

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/test/log_capture.h>

#include "fake_adapter.h"
#include "fake_gpio.h"

namespace ze {
namespace test {
namespace {

using ze::platform::LinuxBackend;
using Bytes = std::vector<std::uint8_t>;

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

bool logged(const LogCapture& log, const std::vector<std::string>& parts)
{
    for (const std::string& body : log.bodies()) {
        bool all = true;
        for (const std::string& part : parts) all = all && body.find(part) != std::string::npos;
        if (all) return true;
    }
    return false;
}

class I2c : public ::testing::Test {
protected:
    I2c()
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
    std::vector<KernelMessage> onlyRdwr() const
    {
        const std::vector<KernelCall> t = adapter->transfers();
        EXPECT_EQ(1u, t.size());
        return t.empty() ? std::vector<KernelMessage>{} : t.front().messages;
    }
    KernelSmbus onlySmbus() const
    {
        const std::vector<KernelCall> t = adapter->transfers();
        EXPECT_EQ(1u, t.size());
        return t.empty() ? KernelSmbus{} : t.front().smbus;
    }

    LogCapture log;
    std::shared_ptr<FakeAdapter> adapter = std::make_shared<FakeAdapter>();
    std::unique_ptr<LinuxBackend> backend;
    Bytes in;
};

TEST(KernelLayout, RecordsHandedToTheKernelHaveItsLayoutForThisWordSize)
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

TEST_F(I2c, OpensTheNodeReadWriteOnceAndReadsWhatTheAdapterSupportsOnce)
{
    EXPECT_EQ(0, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(0, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(0, write(target(kDevice), {1}));
    EXPECT_EQ(0, read(target(kDevice), 1));

    EXPECT_EQ(std::vector<std::string>{"/dev/i2c-1"}, adapter->opened);
    EXPECT_EQ(O_RDWR, adapter->openFlags.at(0) & O_ACCMODE);
    EXPECT_EQ(1u, adapter->count(I2C_FUNCS));
    backend.reset();
    EXPECT_EQ(std::vector<int>{FakeAdapter::kFd}, adapter->closed);
}

TEST_F(I2c, TheFirstTransferOpensABusThatWasNotOpened)
{
    EXPECT_EQ(0, write(target(kDevice), {1}));
    EXPECT_EQ(std::vector<std::string>{"/dev/i2c-1"}, adapter->opened);
}

TEST_F(I2c, ABusTheConfigurationLacksIsRefusedWithoutTouchingTheSystem)
{
    EXPECT_EQ(-ENODEV, backend->i2cOpen(2, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(-ENODEV, backend->i2cWrite(2, target(kDevice), nullptr, 0));
    EXPECT_TRUE(adapter->opened.empty());
    EXPECT_TRUE(logged(log, {"I2C bus 2 is not configured", "[i2c]"}));
}

TEST_F(I2c, AMissingNodeIsReportedWithAHintAndOpenedOnceItAppears)
{
    adapter->failing[0] = -ENOENT;
    EXPECT_EQ(-ENOENT, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_TRUE(logged(log, {"/dev/i2c-1", std::strerror(ENOENT), "modprobe i2c-dev"}));

    adapter->failing.clear();
    EXPECT_EQ(0, write(target(kDevice), {1}));
    EXPECT_EQ(2u, adapter->opened.size());
}

TEST_F(I2c, ANodeThatDoesNotAnswerI2cFuncsIsClosedAgain)
{
    adapter->failing[I2C_FUNCS] = -ENOTTY;
    EXPECT_EQ(-ENOTTY, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(std::vector<int>{FakeAdapter::kFd}, adapter->closed);
    EXPECT_TRUE(logged(log, {"/dev/i2c-1", "I2C_FUNCS", "i2c-dev node"}));
}

TEST_F(I2c, MalformedTransfersAreRefusedBeforeTheyReachTheKernel)
{
    I2cTarget twoByteSub = target(kDevice);
    twoByteSub.subAddrLen = 2;
    EXPECT_EQ(-EINVAL, write(twoByteSub, {1}));
    EXPECT_EQ(-EINVAL, read(target(kDevice), 0));
    EXPECT_EQ(-EINVAL, write(target(kDevice, kNoSub), {}));
    EXPECT_EQ(-EINVAL, backend->i2cRead(kBus, target(kDevice), 1, nullptr));
    EXPECT_EQ(-EINVAL, write(target(kDevice), Bytes(8192)));  // 8193 with the sub-address
    EXPECT_TRUE(adapter->transfers().empty());
    EXPECT_TRUE(logged(log, {"8192"}));
}

// A full I2C master: transfers go as I2C_RDWR messages.

TEST_F(I2c, AWriteAtASubAddressIsOneMessageOfSubAddressThenData)
{
    EXPECT_EQ(0, write(target(kDevice), {0x12, 0x34}));
    EXPECT_EQ((std::vector<KernelMessage>{{0x74, 0, 3, {kSub, 0x12, 0x34}}}), onlyRdwr());
}

TEST_F(I2c, AReadAtASubAddressWritesItThenReadsAfterARepeatedStart)
{
    adapter->answer = {0xAB, 0xCD};
    EXPECT_EQ(0, read(target(kDevice), 2));
    EXPECT_EQ((std::vector<KernelMessage>{{0x74, 0, 1, {kSub}}, {0x74, I2C_M_RD, 2, {}}}),
              onlyRdwr());
    EXPECT_EQ((Bytes{0xAB, 0xCD}), in);
}

TEST_F(I2c, WithoutASubAddressATransferIsASingleMessage)
{
    adapter->answer = {0x5A};
    EXPECT_EQ(0, write(target(kDevice, kNoSub), {0x3C, 0x3D}));
    EXPECT_EQ(0, read(target(kDevice, kNoSub), 1));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ((std::vector<KernelMessage>{{0x74, 0, 2, {0x3C, 0x3D}}}), t[0].messages);
    EXPECT_EQ((std::vector<KernelMessage>{{0x74, I2C_M_RD, 1, {}}}), t[1].messages);
    EXPECT_EQ(Bytes{0x5A}, in);
}

TEST_F(I2c, BothEightBitFormsReachOneDeviceWhichIsSelectedOnce)
{
    EXPECT_EQ(0, write(target(0xE8), {1}));
    EXPECT_EQ(0, read(target(0xE9), 1));
    EXPECT_EQ(0, write(target(0x20), {1}));

    std::vector<unsigned long> selected;
    for (const KernelCall& c : adapter->calls) {
        if (c.request == I2C_SLAVE) selected.push_back(c.argument);
    }
    EXPECT_EQ((std::vector<unsigned long>{0x74, 0x10}), selected);
    EXPECT_EQ(0x74, adapter->transfers().at(1).messages.at(0).addr);
}

TEST_F(I2c, AFailedTransferReturnsItsErrnoNamingBusDeviceSubAddressAndAHint)
{
    adapter->failing[I2C_RDWR] = -ENXIO;
    EXPECT_EQ(-ENXIO, write(target(kDevice), {1}));
    EXPECT_TRUE(logged(log, {"/dev/i2c-1", "device 0x74 (8-bit 0xE8)", "sub-address 0x05",
                             std::strerror(ENXIO), "no device answers at this address"}));
}

TEST_F(I2c, AnAdapterThatCompletesOnlySomeMessagesFailsTheTransfer)
{
    adapter->rdwrDone = 1;
    EXPECT_EQ(-EIO, read(target(kDevice), 2));
}

TEST_F(I2c, ADeviceOwnedByAKernelDriverIsRefusedAndAskedForAgainNextTime)
{
    adapter->failing[I2C_SLAVE] = -EBUSY;
    EXPECT_EQ(-EBUSY, write(target(kDevice), {1}));
    EXPECT_EQ(-EBUSY, write(target(kDevice), {1}));
    EXPECT_TRUE(adapter->transfers().empty());
    EXPECT_EQ(2u, adapter->count(I2C_SLAVE));
    EXPECT_TRUE(logged(log, {"0x74", "kernel driver owns this address"}));
}

// An SMBus-only adapter such as i2c-stub: the SMBus transaction with the same wire bytes.

class Smbus : public I2c {
protected:
    Smbus() { adapter->functions = FakeAdapter::kStub; }
};

TEST_F(Smbus, AOneByteWriteAtASubAddressIsWriteByteDataAfterSelectingTheDevice)
{
    EXPECT_EQ(0, write(target(kDevice), {0x12}));
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, kSub, I2C_SMBUS_BYTE_DATA, true, {0x12}}),
              onlySmbus());
    ASSERT_EQ(3u, adapter->calls.size());
    EXPECT_EQ(I2C_SLAVE, adapter->calls[1].request);
    EXPECT_EQ(0x74u, adapter->calls[1].argument);
}

TEST_F(Smbus, AOneByteReadAtASubAddressIsReadByteData)
{
    adapter->answer = {0x9C};
    EXPECT_EQ(0, read(target(kDevice), 1));
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_READ, kSub, I2C_SMBUS_BYTE_DATA, true, {}}), onlySmbus());
    EXPECT_EQ(Bytes{0x9C}, in);
}

TEST_F(Smbus, ALongerReadAtASubAddressIsAnI2cBlockReadOfThatLength)
{
    adapter->answer = {0x01, 0x02};
    EXPECT_EQ(0, read(target(kDevice), 2));
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_READ, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, {2}}),
              onlySmbus());
    EXPECT_EQ((Bytes{0x01, 0x02}), in);
}

TEST_F(Smbus, LongerWritesAtASubAddressAreI2cBlockWritesOfLengthAndData)
{
    for (const std::size_t length : {3u, 5u, 8u, 32u}) {
        adapter->calls.clear();
        Bytes data(length);
        for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
        EXPECT_EQ(0, write(target(kDevice), data));
        Bytes block{static_cast<std::uint8_t>(length)};
        block.insert(block.end(), data.begin(), data.end());
        EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, kSub, I2C_SMBUS_I2C_BLOCK_DATA, true, block}),
                  onlySmbus())
            << length << " bytes";
    }
}

TEST_F(Smbus, ASingleByteWithoutSubAddressOrASubAddressAloneIsSendOrReceiveByte)
{
    adapter->answer = {0x77};
    EXPECT_EQ(0, write(target(kDevice, kNoSub), {0x3C}));
    EXPECT_EQ(0, read(target(kDevice, kNoSub), 1));
    EXPECT_EQ(0, write(target(kDevice), {}));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, 0x3C, I2C_SMBUS_BYTE, false, {}}), t[0].smbus);
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, true, {}}), t[1].smbus);
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, kSub, I2C_SMBUS_BYTE, false, {}}), t[2].smbus);
    EXPECT_EQ(Bytes{0x77}, in);
}

TEST_F(Smbus, TwoByteTransfersUseWordDataLowByteFirstWhenI2cBlockIsMissing)
{
    adapter->functions = I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA;
    adapter->answer = {0x34, 0x12};
    EXPECT_EQ(0, read(target(kDevice), 2));
    EXPECT_EQ(0, write(target(kDevice), {0x56, 0x78}));
    const std::vector<KernelCall> t = adapter->transfers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_READ, kSub, I2C_SMBUS_WORD_DATA, true, {}}), t[0].smbus);
    EXPECT_EQ((Bytes{0x34, 0x12}), in);
    EXPECT_EQ((KernelSmbus{I2C_SMBUS_WRITE, kSub, I2C_SMBUS_WORD_DATA, true, {0x56, 0x78}}),
              t[1].smbus);
}

TEST_F(Smbus, ATransactionTheAdapterLacksIsRefusedAndNamed)
{
    adapter->functions = I2C_FUNC_SMBUS_BYTE_DATA;
    EXPECT_EQ(-EOPNOTSUPP, read(target(kDevice), 3));
    EXPECT_EQ(-EOPNOTSUPP, write(target(kDevice, kNoSub), {1}));
    EXPECT_TRUE(adapter->transfers().empty());
    EXPECT_TRUE(logged(log, {"/dev/i2c-1", "adapter lacks I2C_RDWR and SMBus I2C block read"}));
    EXPECT_TRUE(logged(log, {"without sub-address", "SMBus send byte"}));
}

TEST_F(Smbus, WhatNoSmbusTransactionExpressesIsRefusedAsInvalid)
{
    EXPECT_EQ(-EINVAL, read(target(kDevice, kNoSub), 2));
    EXPECT_EQ(-EINVAL, read(target(kDevice), 33));
    EXPECT_EQ(-EINVAL, write(target(kDevice), Bytes(33)));
    EXPECT_TRUE(adapter->transfers().empty());
}

TEST_F(Smbus, ABlockReadThatComesBackShortFails)
{
    adapter->answer = {0x01};
    EXPECT_EQ(-EIO, read(target(kDevice), 3));
}

}  // namespace
}  // namespace test
}  // namespace ze
