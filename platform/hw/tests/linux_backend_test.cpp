// The Linux hardware backend: what reaches i2c-dev for each kind of adapter,
// the GPIO lines, the free-run setting, the trace, and zeplatform.conf.

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ze/test/log_capture.h>

#include "fake_adapter.h"
#include "gpiochip_lookup.h"

namespace ze {
namespace test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned int kBus = 1;
constexpr std::uint8_t kDevice = 0xE8;  // 7-bit 0x74
constexpr std::uint8_t kSub = 0x05;
constexpr int kNoSub = -1;
constexpr unsigned int kGpio = 168;  // gpiochip0 line 5

I2cTarget target(std::uint8_t devAddr = kDevice, int subAddr = kSub)
{
    I2cTarget t = {};
    t.devAddr = devAddr;
    t.subAddrLen = subAddr == kNoSub ? 0 : 1;
    t.subAddr = static_cast<std::uint8_t>(subAddr == kNoSub ? 0 : subAddr);
    return t;
}

// Matches logged message bodies of which one holds every piece.
template <typename... Pieces>
auto logged(const Pieces&... pieces)
{
    return ::testing::Contains(::testing::AllOf(::testing::HasSubstr(pieces)...));
}

std::string scratchFile(const std::string& name)
{
    const std::string path = ::testing::TempDir() + "zeplatform_hw_" + name;
    std::remove(path.c_str());
    return path;
}

class HwBackend : public ::testing::Test {
protected:
    HwBackend() { make(); }
    void make(const std::string& freerunFile = "")
    {
        ze::platform::LinuxBackendConfig config;
        config.buses = {kBus, 3};
        config.gpios[kGpio] = {"gpiochip0", 5};
        config.freerunFile = freerunFile;
        backend = std::make_unique<ze::platform::LinuxBackend>(config, adapter, gpio);
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
    int freerun()
    {
        int setting = -1;
        EXPECT_EQ(0, backend->displayGetFreerunVfreq(&setting));
        return setting;
    }

    LogCapture log;
    std::shared_ptr<FakeAdapter> adapter = std::make_shared<FakeAdapter>();
    std::shared_ptr<FakeGpio> gpio = std::make_shared<FakeGpio>();
    std::unique_ptr<ze::platform::LinuxBackend> backend;
    Bytes in;
};

TEST_F(HwBackend, ANodeThatFailsToOpenIsReportedWithAHintAndOpenedOnceItWorks)
{
    adapter->failing["open"] = -ENOENT;
    EXPECT_EQ(-ENOENT, write(target(), {1}));
    EXPECT_THAT(log.bodies(), logged("/dev/i2c-1", std::strerror(ENOENT), "modprobe i2c-dev"));
    adapter->failing = {{"FUNCS", -ENOTTY}};  // not an i2c-dev node
    EXPECT_EQ(-ENOTTY, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    adapter->failing.clear();
    EXPECT_EQ(0, write(target(), {1}));
    EXPECT_EQ(adapter->calls,
              (Calls{"open /dev/i2c-1 rw", "open /dev/i2c-1 rw", "FUNCS", "close 7",
                     "open /dev/i2c-1 rw", "FUNCS", "SLAVE 74", "RDWR 74/0/2[05 01]"}));
}

TEST_F(HwBackend, UnconfiguredBusesAndMalformedTransfersNeverReachTheKernel)
{
    EXPECT_EQ(-ENODEV, backend->i2cOpen(2, QEL_I2C_MODE_DEFAULT));
    EXPECT_TRUE(adapter->calls.empty());
    EXPECT_THAT(log.bodies(), logged("I2C bus 2 is not configured: 'buses' under [i2c] in",
                                     "zeplatform.conf lists 1, 3"));
    I2cTarget twoByteSub = target();
    twoByteSub.subAddrLen = 2;
    EXPECT_EQ(-EINVAL, write(twoByteSub, {1}));
    EXPECT_EQ(-EINVAL, read(target(), 0));
    EXPECT_EQ(-EINVAL, write(target(kDevice, kNoSub), {}));
    EXPECT_EQ(-EINVAL, write(target(), Bytes(8192)));  // 8193 with the sub-address
    EXPECT_EQ(adapter->calls, (Calls{"open /dev/i2c-1 rw", "FUNCS", "SLAVE 74"}));
}

// A full I2C master: one I2C_RDWR call per transfer, on a node opened once.
TEST_F(HwBackend, TransfersAreRdwrMessagesToTheSevenBitAddressOnANodeOpenedOnce)
{
    adapter->answer = {0xAB, 0xCD};
    EXPECT_EQ(0, write(target(0xE8), {0x12, 0x34}));
    EXPECT_EQ(0, backend->i2cOpen(kBus, QEL_I2C_MODE_DEFAULT));
    EXPECT_EQ(0, write(target(0xE9, kNoSub), {0x3C, 0x3D}));
    EXPECT_EQ(0, read(target(0xE9), 2));
    EXPECT_EQ((Bytes{0xAB, 0xCD}), in);
    EXPECT_EQ(0, read(target(0x20, kNoSub), 1));
    backend.reset();
    EXPECT_EQ(adapter->calls,
              (Calls{"open /dev/i2c-1 rw", "FUNCS", "SLAVE 74", "RDWR 74/0/3[05 12 34]",
                     "RDWR 74/0/2[3C 3D]", "RDWR 74/0/1[05] 74/1/2", "SLAVE 10", "RDWR 10/1/1",
                     "close 7"}));
}

TEST_F(HwBackend, AFailedTransferReturnsItsErrnoAndSaysWhereAndWhy)
{
    adapter->failing["RDWR"] = -ENXIO;
    EXPECT_EQ(-ENXIO, write(target(), {1}));
    EXPECT_THAT(log.bodies(), logged("/dev/i2c-1", "device 0x74 (8-bit 0xE8)", "sub-address 0x05",
                                     std::strerror(ENXIO), "no device answers at this address"));
    // A device bound to a kernel driver is refused, and asked for again next time.
    adapter->failing = {{"SLAVE", -EBUSY}};
    EXPECT_EQ(-EBUSY, write(target(0x20), {1}));
    EXPECT_EQ(-EBUSY, write(target(0x20), {1}));
    EXPECT_THAT(log.bodies(), logged("kernel driver owns this address"));
    adapter->failing.clear();
    adapter->rdwrDone = 1;
    EXPECT_EQ(-EIO, read(target(), 2)) << "only one of two messages went";
    EXPECT_EQ(adapter->calls,
              (Calls{"open /dev/i2c-1 rw", "FUNCS", "SLAVE 74", "RDWR 74/0/2[05 01]", "SLAVE 10",
                     "SLAVE 10", "RDWR 74/0/1[05] 74/1/2"}));
}

// An SMBus-only adapter such as i2c-stub: the SMBus transaction with the same
// wire bytes, or a refusal when the adapter has none that expresses the transfer.
TEST_F(HwBackend, OnAnSmbusAdapterEachTransferBecomesTheTransactionWithTheSameBytes)
{
    constexpr unsigned long kStub = FakeAdapter::kStub;
    constexpr unsigned long kWordOnly = I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA;
    constexpr unsigned long kByteOnly = I2C_FUNC_SMBUS_BYTE_DATA;
    const struct {
        unsigned long functions;
        bool read;
        int sub;
        Bytes data;  // written, or as many bytes read
        int status;
        std::string smbus;  // the transaction after "SMBUS "; "": nothing reaches the kernel
    } cases[] = {
        {kStub, false, kSub, {0x12}, 0, "W 05 BYTE_DATA [12]"},
        {kStub, true, kSub, {0}, 0, "R 05 BYTE_DATA []"},
        {kStub, true, kSub, {0, 0}, 0, "R 05 I2C_BLOCK_DATA [02]"},
        {kStub, false, kSub, {7, 8, 9}, 0, "W 05 I2C_BLOCK_DATA [03 07 08 09]"},
        {kStub, false, kSub, Bytes(8, 1), 0, "W 05 I2C_BLOCK_DATA [08 01 01 01 01 01 01 01 01]"},
        {kStub, false, kNoSub, {0x3C}, 0, "W 3C BYTE"},
        {kStub, true, kNoSub, {0}, 0, "R 00 BYTE []"},
        {kStub, false, kSub, {}, 0, "W 05 BYTE"},
        // Low byte first when I2C block transfers are missing.
        {kWordOnly, true, kSub, {0, 0}, 0, "R 05 WORD_DATA []"},
        {kWordOnly, false, kSub, {0x56, 0x78}, 0, "W 05 WORD_DATA [56 78]"},
        {kByteOnly, true, kNoSub, {0, 0}, -EINVAL, ""},
        {kByteOnly, true, kSub, Bytes(33), -EINVAL, ""},
        {kByteOnly, false, kSub, Bytes(33), -EINVAL, ""},
        {kByteOnly, true, kSub, {0, 0, 0}, -EOPNOTSUPP, ""},
        {kByteOnly, false, kNoSub, {1}, -EOPNOTSUPP, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.smbus);
        adapter->functions = c.functions;
        adapter->answer = {0x9C, 0x9D};
        make();
        backend->setTraceEnabled(true);
        adapter->calls.clear();
        const auto length = static_cast<unsigned int>(c.data.size());
        const I2cTarget t = target(kDevice, c.sub);
        EXPECT_EQ(c.status, c.read ? read(t, length) : write(t, c.data));
        EXPECT_EQ(adapter->transfers(), c.smbus.empty() ? Calls{} : Calls{"SMBUS " + c.smbus});
        // The trace names the same call: "W 05 BYTE_DATA" is smbus-write-byte-data.
        std::string traced;
        if (!c.smbus.empty()) {
            traced = std::string("smbus-") + (c.read ? "read-" : "write-") +
                     c.smbus.substr(5, c.smbus.find(' ', 5) - 5);
            std::transform(traced.begin(), traced.end(), traced.begin(),
                           [](char ch) { return ch == '_' ? '-' : std::tolower(ch); });
        }
        EXPECT_EQ(backend->trace().back().transaction, traced);
        if (c.read && c.status == 0) {
            EXPECT_EQ(Bytes(adapter->answer.begin(), adapter->answer.begin() + length), in);
        }
    }
    EXPECT_THAT(log.bodies(), logged("adapter lacks I2C_RDWR and smbus-read-i2c-block-data"));
    EXPECT_THAT(log.bodies(), logged("without sub-address", "smbus-write-byte"));

    adapter->functions = kStub;
    make();
    adapter->answer = {0x01};
    EXPECT_EQ(-EIO, read(target(), 3)) << "a block read that came back short";
    adapter->failing["SMBUS"] = -EIO;
    EXPECT_EQ(-EIO, write(target(), {0x12}));
    EXPECT_THAT(log.bodies(), logged("device 0x74 (8-bit 0xE8)", std::strerror(EIO),
                                     "the device refused a byte"));
}

TEST_F(HwBackend, TheFirstSetRequestsTheMappedLineAsAnOutputOnceAndLaterSetsDriveIt)
{
    EXPECT_EQ(-ENOENT, backend->gpioSetValue(3, 1));
    EXPECT_THAT(log.bodies(), logged("GPIO 3 is not mapped", "[gpio]"));
    gpio->requestStatus = -EBUSY;
    EXPECT_EQ(-EBUSY, backend->gpioSetValue(kGpio, 1));
    EXPECT_THAT(log.bodies(), logged("GPIO 168 (line gpiochip0:5)", std::strerror(EBUSY),
                                     "another consumer holds the line"));
    gpio->requestStatus = 0;
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 1));
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 0));
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 7));
    gpio->setStatus = -ENODEV;
    EXPECT_EQ(-ENODEV, backend->gpioSetValue(kGpio, 0));
    EXPECT_THAT(log.bodies(),
                logged("GPIO 168 (line gpiochip0:5): cannot drive it low", std::strerror(ENODEV)));
    EXPECT_EQ(gpio->calls,
              (Calls{"request gpiochip0:5 zeplatform 1", "request gpiochip0:5 zeplatform 1",
                     "set 45 0", "set 45 1", "set 45 0"}));
}

TEST_F(HwBackend, TheFreerunSettingIsKeptAndWithAFileWrittenThereAndReadFromItWhileItExists)
{
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
    std::ofstream(file) << "60Hz\n";
    int setting = 0;
    EXPECT_EQ(-EINVAL, backend->displayGetFreerunVfreq(&setting));
    EXPECT_THAT(log.bodies(), logged(file, "decimal integer"));
    std::remove(file.c_str());
    EXPECT_EQ(-7, freerun()) << "the setting last seen";

    make(scratchFile("no_such_dir") + "/freerun");
    EXPECT_EQ(-ENOENT, backend->displaySetFreerunVfreq(2));
    EXPECT_EQ(0, freerun()) << "a failed set keeps the previous setting";

    const std::string notAFile = scratchFile("freerun_dir");
    std::filesystem::create_directories(notAFile);
    make(notAFile + "/");
    EXPECT_EQ(-EISDIR, backend->displaySetFreerunVfreq(2));
    EXPECT_EQ(-EISDIR, backend->displayGetFreerunVfreq(&setting));
    EXPECT_THAT(log.bodies(), logged("cannot read the display free-run setting", notAFile));
    std::filesystem::remove_all(notAFile);
}

TEST_F(HwBackend, OnceEnabledEachCallIsTracedWithItsTimeTargetBytesAndStatus)
{
    EXPECT_EQ(0, backend->gpioSetValue(kGpio, 1));
    EXPECT_TRUE(backend->trace().empty()) << "off until enabled";
    std::uint64_t now = 0;
    backend->setClock([&now] { return now += 100; });
    backend->setTraceEnabled(true);
    adapter->answer = {0x56};
    EXPECT_EQ(0, write(target(), {0x12, 0x34}));
    EXPECT_EQ(0, read(target(), 1));
    adapter->failing["RDWR"] = -ENXIO;
    EXPECT_EQ(-ENXIO, read(target(), 1));
    EXPECT_EQ(-ENOENT, backend->gpioSetValue(9, 1));
    Calls lines;
    for (const auto& entry : backend->trace())
        lines.push_back(ze::platform::formatTraceEntry(entry));
    EXPECT_EQ(lines, (Calls{"100us I2CWrite bus=1 dev=0xE8 sub[1]=0x05 data=12,34 status=0",
                            "200us I2CRead bus=1 dev=0xE8 sub[1]=0x05 data=56 status=0",
                            "300us I2CRead bus=1 dev=0xE8 sub[1]=0x05 data= status=-6",
                            "400us GpioSetValue gpio=9 level=1 status=-2"}));
    EXPECT_STREQ(backend->trace()[0].transaction, "I2C_RDWR");

    backend->setTraceCapacity(2);
    EXPECT_EQ(backend->trace().size(), 2u);
    EXPECT_EQ(backend->traceDropped(), 2u);
    EXPECT_EQ(backend->trace()[0].sequence, 2u) << "the newest are kept";
    backend->clearTrace();
    EXPECT_TRUE(backend->trace().empty());
    EXPECT_EQ(backend->traceDropped(), 0u);
}

TEST(HwSystemSeams, SystemCallsAndLibgpiodReturnNegativeErrnos)
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

// Where libgpiod opens chips by path only, the [gpio] chip is found as
// libgpiod 1.x's lookup finds it.
TEST(HwGpioChipLookup, NumbersLabelsPathsAndNamesFindTheirDevice)
{
    const ze::platform::hw::GpioChipLabels chips = {{"/dev/gpiochip0", "9030000.pl061"},
                                                    {"/dev/gpiochip2", "gpiochip0"}};
    const struct {
        const char* chip;
        const char* path;
        bool labelsAsked;
    } cases[] = {
        {"1", "/dev/gpiochip1", false},
        {"007", "/dev/gpiochip7", false},
        {"9030000.pl061", "/dev/gpiochip0", true},
        {"gpiochip0", "/dev/gpiochip2", true},  // a label before a name
        {"/dev/gpiochip1", "/dev/gpiochip1", true},
        {"gpiochip3", "/dev/gpiochip3", true},
    };
    for (const auto& c : cases) {
        bool asked = false;
        EXPECT_EQ(c.path, ze::platform::hw::gpioChipPath(c.chip,
                                                         [&] {
                                                             asked = true;
                                                             return chips;
                                                         }))
            << c.chip;
        EXPECT_EQ(c.labelsAsked, asked) << c.chip;
    }
}

// zeplatform.conf; which backend it gives is tested through the SoC seam.
TEST(HwConfigText, TheDocumentedExampleSelectsLinuxWithBusesLinesAndFreerunFile)
{
    ze::platform::PlatformConfig config;
    std::string error;
    ASSERT_TRUE(ze::platform::parsePlatformConfig(R"([soc]
backend = linux          ; "sim" or absent: the simulated board
[i2c]
buses = 0, 1             ; published as HAL I2C drivers
[gpio]
0 = gpiochip0:4
168 = /dev/gpiochip0 : 5
[display]
freerun_file = /run/zeplatform/freerun   ; optional
)",
                                                  &config, &error))
        << error;
    std::string gpios;
    for (const auto& [gpio, line] : config.hardware.gpios)
        gpios += std::to_string(gpio) + "=" + line.chip + ":" + std::to_string(line.offset) + " ";
    EXPECT_EQ("0=gpiochip0:4 168=/dev/gpiochip0:5 ", gpios);
    EXPECT_EQ("linux", config.backend);
    EXPECT_EQ((std::vector<unsigned int>{0, 1}), config.hardware.buses);
    EXPECT_EQ("/run/zeplatform/freerun", config.hardware.freerunFile);
    EXPECT_TRUE(ze::platform::parsePlatformConfig("[SOC]\nBackend = sim\n", &config, &error));
    EXPECT_EQ("sim", config.backend);
    EXPECT_TRUE(ze::platform::parsePlatformConfig("", &config, &error)) << error;
    EXPECT_EQ("", config.backend);
}

TEST(HwConfigText, ABrokenEntryIsRejectedNamingItsLineAndWhatIsWrong)
{
    // inih would take the tail of this comment for a line of its own.
    const std::string longComment =
        "[soc]\nbackend = linux\n; " + std::string(196, '-') + "backend = sim\n";
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
        {"[soc]\nbackend = linux\n[sco]\nbackend = sim\n", "line 4: unknown section [sco]"},
        {longComment.c_str(), "line 3 is longer than 199 bytes"},
    };
    for (const auto& c : cases) {
        ze::platform::PlatformConfig config;
        std::string error;
        EXPECT_FALSE(ze::platform::parsePlatformConfig(c.text, &config, &error)) << c.text;
        EXPECT_EQ(0u, error.rfind(c.error, 0)) << error;
    }
}

}  // namespace
}  // namespace test
}  // namespace ze
