// GPIO lines, the free-run setting, the trace, and the real system seams.

#include <fcntl.h>
#include <linux/i2c-dev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
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

constexpr unsigned int kGpio = 168;  // gpiochip0 line 5
constexpr int kHandle = FakeGpio::kFirstHandle + 1;

std::string scratchFile(const std::string& name)
{
    const std::string path = ::testing::TempDir() + "zeplatform_hw_" + name;
    std::remove(path.c_str());
    return path;
}

class HwBackend : public ::testing::Test {
protected:
    void make(const std::string& freerunFile = "")
    {
        ze::platform::LinuxBackendConfig config;
        config.buses = {1};
        config.gpios[kGpio] = {"gpiochip0", 5};
        config.freerunFile = freerunFile;
        backend = std::make_unique<LinuxBackend>(config, adapter, gpio);
    }
    int freerun()
    {
        int setting = -1;
        EXPECT_EQ(0, backend->displayGetFreerunVfreq(&setting));
        return setting;
    }

    LogCapture log;
    std::shared_ptr<FakeAdapter> adapter = std::make_shared<FakeAdapter>();
    std::shared_ptr<FakeGpio> gpio = std::make_shared<FakeGpio>();
    std::unique_ptr<LinuxBackend> backend;
};

TEST_F(HwBackend, TheFirstSetRequestsTheMappedLineAsAnOutputAndLaterSetsDriveIt)
{
    make();
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 1));
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 0));
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 7));
    EXPECT_EQ((std::vector<FakeGpio::Request>{{"gpiochip0", 5, "zeplatform", 1}}),
              gpio->requests);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{kHandle, 0}, {kHandle, 1}}), gpio->sets);
}

TEST_F(HwBackend, AnUnmappedGpioOrAFailedRequestIsReportedAndTheRequestTriedAgain)
{
    make();
    EXPECT_EQ(-ENOENT, backend->gpioSetValue(3, 1));
    EXPECT_TRUE(gpio->requests.empty());
    EXPECT_THAT(log.bodies(),
                Contains(AllOf(HasSubstr("GPIO 3 is not mapped"), HasSubstr("[gpio]"))));

    gpio->requestStatus = -EBUSY;
    EXPECT_EQ(-EBUSY, backend->gpioSetValue(kGpio, 1));
    EXPECT_THAT(log.bodies(), Contains(AllOf(HasSubstr("GPIO 168 (gpiochip0 line 5)"),
                                             HasSubstr(std::strerror(EBUSY)),
                                             HasSubstr("another consumer holds the line"))));
    gpio->requestStatus = 0;
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 1));
    EXPECT_EQ(2u, gpio->requests.size());
}

TEST_F(HwBackend, TheFreerunSettingIsKeptAndWithAFileWrittenThereAndReadFromItWhileItExists)
{
    make();
    EXPECT_EQ(0, freerun());
    EXPECT_EQ(0, backend->displaySetFreerunVfreq(QEL_FREERUN_VFREQ_60HZ));
    EXPECT_EQ(QEL_FREERUN_VFREQ_60HZ, freerun());

    const std::string file = scratchFile("freerun");
    make(file);
    EXPECT_EQ(0, backend->displaySetFreerunVfreq(2));
    std::string text;
    std::getline(std::ifstream(file), text, '\0');
    EXPECT_EQ("2\n", text);
    std::ofstream(file) << " -7\n";
    EXPECT_EQ(-7, freerun());
    std::remove(file.c_str());
    EXPECT_EQ(-7, freerun()) << "the setting last seen";
}

TEST_F(HwBackend, AFreerunFileWithoutANumberOrInAMissingDirectoryIsAnError)
{
    const std::string file = scratchFile("freerun_garbage");
    make(file);
    std::ofstream(file) << "60Hz\n";
    int setting = -1;
    EXPECT_EQ(-EINVAL, backend->displayGetFreerunVfreq(&setting));
    EXPECT_THAT(log.bodies(), Contains(AllOf(HasSubstr(file), HasSubstr("decimal integer"))));
    std::remove(file.c_str());

    make(scratchFile("no_such_dir") + "/freerun");
    EXPECT_EQ(-ENOENT, backend->displaySetFreerunVfreq(2));
    EXPECT_EQ(0, freerun()) << "a failed set keeps the previous setting";
}

TEST_F(HwBackend, OnceEnabledEachCallIsTracedWithItsTimeTargetBytesAndStatus)
{
    make();
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 1));
    EXPECT_TRUE(backend->trace().empty()) << "off until enabled";

    std::uint64_t now = 0;
    backend->setClock([&now] { return now += 100; });
    backend->setTraceEnabled(true);
    I2cTarget target = {};
    target.devAddr = 0xE8;
    target.subAddrLen = 1;
    target.subAddr = 0x05;
    const unsigned char out[2] = {0x12, 0x34};
    unsigned char in[1] = {};
    adapter->answer = {0x56};
    EXPECT_EQ(0, backend->i2cWrite(1, target, out, 2));
    EXPECT_EQ(0, backend->i2cRead(1, target, 1, in));
    adapter->failing[I2C_RDWR] = -ENXIO;
    EXPECT_EQ(-ENXIO, backend->i2cRead(1, target, 1, in));
    EXPECT_EQ(-ENOENT, backend->gpioSetValue(9, 1));
    EXPECT_EQ(0, backend->displaySetFreerunVfreq(2));

    std::vector<std::string> lines;
    for (const auto& entry : backend->trace()) lines.push_back(ze::sim::formatTraceEntry(entry));
    EXPECT_EQ((std::vector<std::string>{
                  "100us I2CWrite bus=1 dev=0xE8 sub[1]=0x05 data=12,34 status=0",
                  "200us I2CRead bus=1 dev=0xE8 sub[1]=0x05 data=56 status=0",
                  "300us I2CRead bus=1 dev=0xE8 sub[1]=0x05 data= status=-6",
                  "400us GpioSetValue gpio=9 level=1 status=-2",
                  "500us DisplaySetFreerunVfreq setting=2 status=0"}),
              lines);
    backend->clearTrace();
    EXPECT_TRUE(backend->trace().empty());
}

TEST(HwRealSeams, SystemCallsAndLibgpiodReturnNegativeErrnos)
{
    const auto calls = ze::platform::realSystemCalls();
    EXPECT_EQ(-ENOENT, calls->open("/nonexistent/zeplatform/i2c-1", O_RDWR));
    const int fd = calls->open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    unsigned long functions = 0;
    EXPECT_LT(calls->ioctl(fd, I2C_FUNCS, &functions), 0) << "/dev/null is no I2C adapter";
    EXPECT_EQ(0, calls->close(fd));
    EXPECT_EQ(-EBADF, calls->close(fd));

    const auto chips = ze::platform::makeLibgpiodAccess();
    EXPECT_LT(chips->requestOutput("/nonexistent/zeplatform-gpiochip", 0, "zeplatform", 0), 0);
    EXPECT_EQ(-EBADF, chips->setValue(0, 1));
}

}  // namespace
}  // namespace test
}  // namespace ze
