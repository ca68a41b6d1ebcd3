#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
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
        board_->attach(3, 0xE8, chip_);
        board_->addGpio(168);
        board_->setTraceEnabled(true);
        setSocBackend(board_);
    }
    void TearDown() override { setSocBackend(nullptr); }

    std::shared_ptr<ze::sim::Board> board_ = std::make_shared<ze::sim::Board>();
    std::shared_ptr<ze::sim::RegisterFile> chip_ = std::make_shared<ze::sim::RegisterFile>();
};

TEST_F(SocSeam, CallsReachTheBackendAsGivenLeaveTheFlagsAloneAndNeedTargetsAndBuffers)
{
    I2cTarget target{};
    target.devAddr = 0xE9;
    target.subAddrLen = 1;
    target.subAddr = 0x02;
    unsigned char data[] = {0x11, 0x22};
    EXPECT_EQ(QEL_I2CWrite(3, nullptr, data, 1, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CWrite(3, &target, nullptr, 1, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CRead(3, nullptr, 1, data, nullptr), -EINVAL);
    EXPECT_EQ(QEL_I2CRead(3, &target, 1, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(QEL_DisplayGetFreerunVfreq(nullptr), -EINVAL);
    EXPECT_TRUE(board_->trace().empty()) << "refused before the backend";

    unsigned int flags = 0xA5A5A5A5u;
    EXPECT_EQ(QEL_I2COpen(3, QEL_I2C_MODE_DEFAULT), 0);
    EXPECT_EQ(QEL_I2CWrite(3, &target, data, 2, &flags), 0);
    EXPECT_EQ(chip_->reg(0x03), 0x22);
    unsigned char buffer[2] = {};
    EXPECT_EQ(QEL_I2CRead(3, &target, 2, buffer, &flags), 0);
    EXPECT_EQ(buffer[1], 0x22);
    EXPECT_EQ(flags, 0xA5A5A5A5u);
    EXPECT_EQ(QEL_I2CWrite(3, &target, nullptr, 0, nullptr), 0);
    EXPECT_EQ(QEL_GPIOSetValue(168, 5), 0);
    EXPECT_EQ(board_->gpioLevel(168), 5u);
    EXPECT_EQ(QEL_DisplaySetFreerunVfreq(QEL_FREERUN_VFREQ_60HZ), 0);
    int setting = -1;
    EXPECT_EQ(QEL_DisplayGetFreerunVfreq(&setting), 0);
    EXPECT_EQ(setting, QEL_FREERUN_VFREQ_60HZ);
    EXPECT_EQ(board_->trace().size(), 7u);
}

class BackendChoice : public ::testing::Test {
protected:
    void SetUp() override { setSocBackend(nullptr); }
    void TearDown() override { setSocBackend(nullptr); }

    ze::test::TempRoot root_;
};

TEST_F(BackendChoice, WithoutPlatformConfigurationEveryCallFailsRatherThanSimulatingABoard)
{
    ze::test::LogCapture log;
    EXPECT_STRNE(socBackend().name(), "sim");
    EXPECT_TRUE(socBackend().buses().empty());
    EXPECT_EQ(QEL_I2COpen(1, QEL_I2C_MODE_DEFAULT), -ENODEV);
    EXPECT_EQ(QEL_GPIOSetValue(0, 1), -ENODEV);
    ASSERT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR).size(), 1u);
    EXPECT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR)[0].rfind(
                  "no SoC backend configured (" + root_.path("/etc/zeplatform.conf") + ")", 0),
              0u)
        << log.bodies(QOR_DEBUG_LEVEL_ERROR)[0];

    setSocBackend(nullptr);
    root_.write("/etc/zeplatform.conf", "[i2c]\nbuses = 1\n");
    EXPECT_EQ(QEL_I2COpen(1, QEL_I2C_MODE_DEFAULT), -ENODEV);
}

TEST_F(BackendChoice, AConfigurationSelectingLinuxGivesTheHardwareBackend)
{
    root_.write("/etc/zeplatform.conf", "[soc]\nbackend = linux\n[i2c]\nbuses = 7\n");
    EXPECT_STREQ(socBackend().name(), "linux");
    EXPECT_EQ(socBackend().buses(), (std::vector<unsigned int>{7}));
}

TEST_F(BackendChoice, ABrokenConfigurationFailsEveryCallAndSaysOnceWhatIsWrongWhere)
{
    const std::string conf = root_.path("/etc/zeplatform.conf");
    const struct {
        const char* text;  // nullptr: the configuration is a directory
        bool readable;
        std::string error;
    } cases[] = {
        {"[soc]\nbackend = lunix\n", true, conf + ": line 2: unknown SoC backend 'lunix'"},
        {"[sco]\nbackend = linux\n", true, conf + ": line 2: unknown section [sco] (key 'backend'"},
        {nullptr, true, conf + " is a directory"},
        {"[soc]\nbackend = linux\n", false, conf + ": cannot read: " + std::strerror(EACCES)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::filesystem::remove_all(conf);
        if (c.text != nullptr) root_.write("/etc/zeplatform.conf", c.text);
        if (c.text == nullptr) std::filesystem::create_directories(conf);
        setSocBackend(nullptr);
        ze::test::LogCapture log;
        const auto everyCallFails = [] {
            EXPECT_STRNE(socBackend().name(), "sim");
            EXPECT_EQ(QEL_I2COpen(0, QEL_I2C_MODE_DEFAULT), -ENODEV);
            EXPECT_EQ(QEL_GPIOSetValue(0, 1), -ENODEV);
        };
        if (c.readable) everyCallFails();
        if (!c.readable) root_.withoutReadAccess("/etc/zeplatform.conf", everyCallFails);
        ASSERT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR).size(), 1u);
        EXPECT_EQ(log.bodies(QOR_DEBUG_LEVEL_ERROR)[0].rfind(c.error, 0), 0u)
            << log.bodies(QOR_DEBUG_LEVEL_ERROR)[0];
    }
}

}  // namespace
