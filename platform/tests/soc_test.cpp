#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <qel/soc.h>
#include <ze/platform/soc_backend.h>
#include <ze/sim/board.h>
#include <ze/sim/register_file.h>
#include <ze/test/log_capture.h>

#include "temp_root.h"

namespace {

using ze::platform::setSocBackend;
using ze::platform::socBackend;

TEST(I2cTargetRecord, IsTwelveBytesWithTheAddressBytesFirst)
{
    EXPECT_EQ(sizeof(I2cTarget), 12u);
    EXPECT_EQ(offsetof(I2cTarget, devAddr), 0u);
    EXPECT_EQ(offsetof(I2cTarget, subAddrLen), 1u);
    EXPECT_EQ(offsetof(I2cTarget, subAddr), 2u);
    EXPECT_EQ(offsetof(I2cTarget, reserved), 3u);
}

class SocSeam : public ::testing::Test {
protected:
    void SetUp() override
    {
        board_->addBus(3);
        board_->attach(3, 0xE8, std::make_shared<ze::sim::RegisterFile>());
        board_->addGpio(168);
        setSocBackend(board_);
    }
    void TearDown() override { setSocBackend(nullptr); }

    std::shared_ptr<ze::sim::Board> board_ = std::make_shared<ze::sim::Board>();
};

TEST_F(SocSeam, CallsReachTheBackendAsGivenAndLeaveTheFlagsAlone)
{
    I2cTarget target{};
    target.devAddr = 0xE9;
    target.subAddrLen = 1;
    target.subAddr = 0x02;
    unsigned char data[] = {0x11, 0x22};
    unsigned int flags = 0xA5A5A5A5u;
    EXPECT_EQ(QEL_I2COpen(3, QEL_I2C_MODE_DEFAULT), 0);
    EXPECT_EQ(QEL_I2CWrite(3, &target, data, 2, &flags), 0);
    unsigned char buffer[2] = {};
    EXPECT_EQ(QEL_I2CRead(3, &target, 2, buffer, &flags), 0);
    EXPECT_EQ(buffer[1], 0x22);
    EXPECT_EQ(flags, 0xA5A5A5A5u);
    EXPECT_EQ(QEL_I2CWrite(3, &target, nullptr, 0, nullptr), 0);
    EXPECT_EQ(QEL_GPIOSetValue(168, 5), 0);
    EXPECT_EQ(QEL_DisplaySetFreerunVfreq(QEL_FREERUN_VFREQ_60HZ), 0);
    int setting = -1;
    EXPECT_EQ(QEL_DisplayGetFreerunVfreq(&setting), 0);
    EXPECT_EQ(setting, QEL_FREERUN_VFREQ_60HZ);

    std::vector<std::string> calls;
    for (const ze::sim::TraceEntry& e : board_->trace()) calls.push_back(formatTraceEntry(e));
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_NE(calls[0].find("I2COpen bus=3 mode=1 status=0"), std::string::npos);
    EXPECT_NE(calls[1].find("I2CWrite bus=3 dev=0xE9 sub[1]=0x02 data=11,22"), std::string::npos);
    EXPECT_NE(calls[2].find("I2CRead bus=3 dev=0xE9 sub[1]=0x02 data=11,22"), std::string::npos);
    EXPECT_NE(calls[4].find("GpioSetValue gpio=168 level=5"), std::string::npos);
}

TEST_F(SocSeam, MissingTargetsAndBuffersAreRefusedBeforeTheBackend)
{
    I2cTarget target{};
    unsigned char byte = 0;
    EXPECT_EQ(QEL_I2CWrite(3, nullptr, &byte, 1, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CWrite(3, &target, nullptr, 1, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CRead(3, nullptr, 1, &byte, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CRead(3, &target, 1, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(QEL_DisplayGetFreerunVfreq(nullptr), -EINVAL);
    EXPECT_TRUE(board_->trace().empty());
}

class BackendChoice : public ::testing::Test {
protected:
    void SetUp() override { setSocBackend(nullptr); }
    void TearDown() override { setSocBackend(nullptr); }

    ze::test::TempRoot root_;
};

TEST_F(BackendChoice, WithoutPlatformConfigurationTheDefaultSimulatedBoardServes)
{
    EXPECT_STREQ(socBackend().name(), "sim");
    EXPECT_EQ(socBackend().buses(), (std::vector<unsigned int>{0, 1, 2, 3}));
    EXPECT_EQ(QEL_I2COpen(3, QEL_I2C_MODE_DEFAULT), 0);
    EXPECT_EQ(QEL_I2COpen(4, QEL_I2C_MODE_DEFAULT), ze::sim::kNoSuchBus);
    EXPECT_EQ(QEL_GPIOSetValue(255, 1), 0);
    EXPECT_EQ(QEL_GPIOSetValue(256, 1), ze::sim::kNoSuchLine);
    int setting = -1;
    EXPECT_EQ(QEL_DisplayGetFreerunVfreq(&setting), 0);
    EXPECT_EQ(setting, 0);

    // Dropping the backend makes the next call choose a fresh board.
    auto& first = dynamic_cast<ze::sim::Board&>(socBackend());
    EXPECT_EQ(first.trace().size(), 5u);
    setSocBackend(nullptr);
    EXPECT_TRUE(dynamic_cast<ze::sim::Board&>(socBackend()).trace().empty());
}

TEST_F(BackendChoice, AConfigurationSelectingLinuxGivesTheHardwareBackend)
{
    root_.write("/etc/zeplatform.conf", "[soc]\nbackend = linux\n[i2c]\nbuses = 7\n");
    EXPECT_STREQ(socBackend().name(), "linux");
    EXPECT_EQ(socBackend().buses(), (std::vector<unsigned int>{7}));
}

TEST_F(BackendChoice, ABrokenConfigurationFailsEveryCallRatherThanSimulatingTheChip)
{
    root_.write("/etc/zeplatform.conf", "[soc]\nbackend = lunix\n");
    ze::test::LogCapture log;
    EXPECT_STRNE(socBackend().name(), "sim");
    EXPECT_NE(QEL_I2COpen(0, QEL_I2C_MODE_DEFAULT), 0);
    EXPECT_NE(QEL_GPIOSetValue(0, 1), 0);
    ASSERT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR).size(), 1u);
    EXPECT_NE(log.bodies(QOR_DEBUG_LEVEL_ERROR)[0].find("lunix"), std::string::npos);
}

}  // namespace
