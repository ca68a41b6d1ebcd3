// The library against a platform supplied by someone else: this binary
// defines the SoC interface and the debug output itself, as a vendor platform
// would, and checks exactly what the driver hands over.

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <qel/soc.h>
#include <qor/debug.h>
#include <ze/test/virtual_clock.h>

#include "vcomic/VCOMICdriver.h"

namespace {

struct SocCall {
    std::string name;
    unsigned int bus;
    unsigned char record[sizeof(I2cTarget)];
    unsigned int length;
    unsigned int flagsSeen;
    std::vector<unsigned char> data;
};

std::vector<SocCall> gCalls;
std::vector<DebugLevelDescriptor> gChecks;
std::vector<std::string> gOutput;
int gStatus = 0;

SocCall& record(const char* name, unsigned int bus, const I2cTarget* target, unsigned int length,
                const unsigned int* flags)
{
    SocCall call{name, bus, {}, length, *flags, {}};
    std::memcpy(call.record, target, sizeof *target);
    gCalls.push_back(call);
    return gCalls.back();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int QEL_I2COpen(unsigned int, unsigned int)
{
    return 0;
}

__attribute__((visibility("default"))) int QEL_I2CWrite(unsigned int bus, I2cTarget* target,
                                                        unsigned char* data, unsigned int length,
                                                        unsigned int* flags)
{
    record("write", bus, target, length, flags).data.assign(data, data + length);
    return gStatus;
}

__attribute__((visibility("default"))) int QEL_I2CRead(unsigned int bus, I2cTarget* target,
                                                       unsigned int length, unsigned char* buffer,
                                                       unsigned int* flags)
{
    record("read", bus, target, length, flags);
    std::memset(buffer, 0x42, length);
    return gStatus;
}

__attribute__((visibility("default"))) int QEL_GPIOSetValue(unsigned int, unsigned int)
{
    return 0;
}

__attribute__((visibility("default"))) int QEL_DisplayGetFreerunVfreq(int* setting)
{
    *setting = 0;
    return 0;
}

__attribute__((visibility("default"))) int QEL_DisplaySetFreerunVfreq(int)
{
    return 0;
}

__attribute__((visibility("default"))) int qorDebugCheckLevelGetFrameAndChunk(
    const DebugLevelDescriptor* descriptor)
{
    gChecks.push_back(*descriptor);
    return (descriptor->categoryLevel & 0xFFFFu) == QOR_DEBUG_LEVEL_ERROR;
}

__attribute__((visibility("default"))) void qorDebugOutput0(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    gOutput.push_back(text);
}

}  // extern "C"

namespace {

class VendorPlatform : public ::testing::Test {
protected:
    VendorPlatform()
    {
        gCalls.clear();
        gChecks.clear();
        gOutput.clear();
        gStatus = 0;
        driver.i2cBus = 3;
        ze::test::resetClock();
    }
    ze::ic::VCOMICDriver driver{1, nullptr};
};

TEST_F(VendorPlatform, TheRecordNamesDeviceSubAddressLengthAndLowSubAddressByteAndNothingElse)
{
    unsigned char data[3] = {0xEA, 0x10, 0x01};
    unsigned char in[2] = {};

    driver.writeNumBytes(0xC2, 1, 0xFFFFFFE7u, data, 3);
    driver.readNumBytes(0xE9, 0, 0, in, 2);
    driver.writeNumBytes(0xE8, 1, 0x00, data, 0);

    ASSERT_EQ(3u, gCalls.size());
    const unsigned char write[12] = {0xC2, 1, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const unsigned char read[12] = {0xE9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(write, gCalls[0].record, 12));
    EXPECT_EQ(0, std::memcmp(read, gCalls[1].record, 12));
    EXPECT_EQ(3u, gCalls[0].bus);
    EXPECT_EQ((std::vector<unsigned char>{0xEA, 0x10, 0x01}), gCalls[0].data);
    EXPECT_EQ(2u, gCalls[1].length);
    EXPECT_EQ(0x42, in[1]);
    EXPECT_EQ(0u, gCalls[2].length);
    for (const SocCall& call : gCalls) EXPECT_EQ(0u, call.flagsSeen);
    EXPECT_EQ((std::vector<std::uint64_t>{1000, 1000, 1000}), ze::test::waitDurations());
}

TEST_F(VendorPlatform, EveryMessageAsksItsLevelWithAFreshDescriptorAndOnlyEnabledOnesAreFormatted)
{
    unsigned char value = 0x5A;
    gStatus = -5;

    driver.writeNumBytes(0xE8, 1, 0x25, &value, 1);

    ASSERT_EQ(6u, gChecks.size());
    for (const DebugLevelDescriptor& d : gChecks) {
        EXPECT_EQ(0x019A03E8u, d.categoryLevel);
        EXPECT_EQ(0u, d.frame);
        EXPECT_EQ(0u, d.chunk);
    }
    ASSERT_EQ(6u, gOutput.size());
    EXPECT_NE(std::string::npos,
              gOutput[0].find(":writeNumBytes(): [VCOMIC] I2C write fail, u8devAddr = 0xe8.\n"));

    gChecks.clear();
    gOutput.clear();
    gStatus = 0;
    driver.Get_Vcom_bmp("pattern", 1);
    ASSERT_EQ(1u, gChecks.size());
    EXPECT_EQ(0x019A0FA0u, gChecks[0].categoryLevel);
    EXPECT_TRUE(gOutput.empty());
}

}  // namespace
