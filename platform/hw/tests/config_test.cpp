// zeplatform.conf: parsing, and the backend it selects.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <ze/platform/linux_backend.h>

namespace ze {
namespace test {
namespace {

using ze::platform::PlatformConfig;

constexpr const char* kExample = R"([soc]
backend = linux          ; "sim" or absent: the simulated board
[i2c]
buses = 0, 1             ; published as HAL I2C drivers
[gpio]
0 = gpiochip0:4
168 = /dev/gpiochip0 : 5
[display]
freerun_file = /run/zeplatform/freerun   ; optional
)";

TEST(HwConfigText, TheDocumentedExampleSelectsLinuxWithBusesLinesAndFreerunFile)
{
    PlatformConfig config;
    std::string error;
    ASSERT_TRUE(ze::platform::parsePlatformConfig(kExample, &config, &error)) << error;
    EXPECT_EQ("linux", config.backend);
    EXPECT_EQ((std::vector<unsigned int>{0, 1}), config.hardware.buses);
    ASSERT_EQ(2u, config.hardware.gpios.size());
    EXPECT_EQ("gpiochip0", config.hardware.gpios.at(0).chip);
    EXPECT_EQ(4u, config.hardware.gpios.at(0).offset);
    EXPECT_EQ("/dev/gpiochip0", config.hardware.gpios.at(168).chip);
    EXPECT_EQ(5u, config.hardware.gpios.at(168).offset);
    EXPECT_EQ("/run/zeplatform/freerun", config.hardware.freerunFile);

    for (const char* sim : {"", "[panel]\nsize = 55\n", "[SOC]\nBackend = sim\n"}) {
        EXPECT_TRUE(ze::platform::parsePlatformConfig(sim, &config, &error)) << error;
        EXPECT_EQ("sim", config.backend) << sim;
    }
}

TEST(HwConfigText, ABrokenEntryIsRejectedNamingItsLineAndWhatIsWrong)
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"[soc]\nbackend = hw\n", "line 2: unknown SoC backend 'hw'"},
        {"[gpio]\n0 = gpiochip0\n", "line 2: GPIO 0: expected <chip>:<offset>"},
        {"[gpio]\n0 = gpiochip0:x\n", "line 2: GPIO 0: expected <chip>:<offset>"},
        {"[gpio]\n0 = :4\n", "line 2: GPIO 0: expected <chip>:<offset>"},
        {"[gpio]\nreset = gpiochip0:4\n", "line 2: 'reset' is not a GPIO number"},
        {"[gpio]\n0 = a:4\n1 = b:1\n0 = a:5\n", "line 4: GPIO 0 is mapped twice"},
        {"[gpio]\n0 = a:4\n\n7 = a:4\n", "line 4: GPIO 7 and GPIO 0 map to the same line"},
        {"[i2c]\nbuses = 0, -1\n", "line 2: '-1' is not an I2C bus number"},
        {"[i2c]\nbuses = 2 2\n", "line 2: I2C bus 2 is listed twice"},
        {"[display]\nfreerun = /tmp/x\n", "line 2: unknown key 'freerun' under [display]"},
        {"[soc]\nbackend = linux\njunk\n[gpio]\nx = y\n", "line 3: expected '[section]'"},
    };
    for (const auto& c : cases) {
        PlatformConfig config;
        std::string error;
        EXPECT_FALSE(ze::platform::parsePlatformConfig(c.text, &config, &error)) << c.text;
        EXPECT_EQ(0u, error.rfind(c.error, 0)) << error;
    }
}

TEST(HwConfiguredBackend, OnlyAValidConfigurationSelectingLinuxGivesABackend)
{
    const std::string root = ::testing::TempDir() + "zeplatform_hw_root";
    const std::string file = root + "/etc/zeplatform.conf";
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/etc").c_str(), 0755);
    std::remove(file.c_str());
    ::setenv("ZE_PLATFORM_ROOT", root.c_str(), 1);
    std::string error = "stale";

    EXPECT_EQ(nullptr, ze::platform::makeConfiguredBackend(&error)) << "no file";
    EXPECT_EQ("", error);
    std::ofstream(file) << "[soc]\nbackend = sim\n";
    EXPECT_EQ(nullptr, ze::platform::makeConfiguredBackend(&error));
    EXPECT_EQ("", error);

    std::ofstream(file) << kExample;
    const auto backend = ze::platform::makeConfiguredBackend(&error);
    ASSERT_NE(nullptr, dynamic_cast<ze::platform::LinuxBackend*>(backend.get())) << error;
    EXPECT_EQ((std::vector<unsigned int>{0, 1}), backend->buses());

    std::ofstream(file) << "[soc]\nbackend = linux\n[gpio]\n4 = gpiochip0\n";
    EXPECT_EQ(nullptr, ze::platform::makeConfiguredBackend(&error));
    EXPECT_EQ(file + ": line 4: GPIO 4: expected <chip>:<offset>, got 'gpiochip0'", error);
    std::remove(file.c_str());
    ::unsetenv("ZE_PLATFORM_ROOT");
}

}  // namespace
}  // namespace test
}  // namespace ze
