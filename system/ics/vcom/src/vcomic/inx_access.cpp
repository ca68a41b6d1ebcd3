#include <unistd.h>

#include "VCOMICdriver.h"
#include "inx_common.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {

// IN518 record CRC by VCOM byte: the CRC of the record 01 89 57 v.
const unsigned char crc[256] = {
    0x8A, 0xE3, 0x58, 0x31, 0x47, 0x2E, 0x95, 0xFC, 0x79, 0x10, 0xAB, 0xC2, 0xB4, 0xDD, 0x66, 0x0F,  // 0x00
    0x05, 0x6C, 0xD7, 0xBE, 0xC8, 0xA1, 0x1A, 0x73, 0xF6, 0x9F, 0x24, 0x4D, 0x3B, 0x52, 0xE9, 0x80,  // 0x10
    0xFD, 0x94, 0x2F, 0x46, 0x30, 0x59, 0xE2, 0x8B, 0x0E, 0x67, 0xDC, 0xB5, 0xC3, 0xAA, 0x11, 0x78,  // 0x20
    0x72, 0x1B, 0xA0, 0xC9, 0xBF, 0xD6, 0x6D, 0x04, 0x81, 0xE8, 0x53, 0x3A, 0x4C, 0x25, 0x9E, 0xF7,  // 0x30
    0x64, 0x0D, 0xB6, 0xDF, 0xA9, 0xC0, 0x7B, 0x12, 0x97, 0xFE, 0x45, 0x2C, 0x5A, 0x33, 0x88, 0xE1,  // 0x40
    0xEB, 0x82, 0x39, 0x50, 0x26, 0x4F, 0xF4, 0x9D, 0x18, 0x71, 0xCA, 0xA3, 0xD5, 0xBC, 0x07, 0x6E,  // 0x50
    0x13, 0x7A, 0xC1, 0xA8, 0xDE, 0xB7, 0x0C, 0x65, 0xE0, 0x89, 0x32, 0x5B, 0x2D, 0x44, 0xFF, 0x96,  // 0x60
    0x9C, 0xF5, 0x4E, 0x27, 0x51, 0x38, 0x83, 0xEA, 0x6F, 0x06, 0xBD, 0xD4, 0xA2, 0xCB, 0x70, 0x19,  // 0x70
    0x3F, 0x56, 0xED, 0x84, 0xF2, 0x9B, 0x20, 0x49, 0xCC, 0xA5, 0x1E, 0x77, 0x01, 0x68, 0xD3, 0xBA,  // 0x80
    0xB0, 0xD9, 0x62, 0x0B, 0x7D, 0x14, 0xAF, 0xC6, 0x43, 0x2A, 0x91, 0xF8, 0x8E, 0xE7, 0x5C, 0x35,  // 0x90
    0x48, 0x21, 0x9A, 0xF3, 0x85, 0xEC, 0x57, 0x3E, 0xBB, 0xD2, 0x69, 0x00, 0x76, 0x1F, 0xA4, 0xCD,  // 0xA0
    0xC7, 0xAE, 0x15, 0x7C, 0x0A, 0x63, 0xD8, 0xB1, 0x34, 0x5D, 0xE6, 0x8F, 0xF9, 0x90, 0x2B, 0x42,  // 0xB0
    0xD1, 0xB8, 0x03, 0x6A, 0x1C, 0x75, 0xCE, 0xA7, 0x22, 0x4B, 0xF0, 0x99, 0xEF, 0x86, 0x3D, 0x54,  // 0xC0
    0x5E, 0x37, 0x8C, 0xE5, 0x93, 0xFA, 0x41, 0x28, 0xAD, 0xC4, 0x7F, 0x16, 0x60, 0x09, 0xB2, 0xDB,  // 0xD0
    0xA6, 0xCF, 0x74, 0x1D, 0x6B, 0x02, 0xB9, 0xD0, 0x55, 0x3C, 0x87, 0xEE, 0x98, 0xF1, 0x4A, 0x23,  // 0xE0
    0x29, 0x40, 0xFB, 0x92, 0xE4, 0x8D, 0x36, 0x5F, 0xDA, 0xB3, 0x08, 0x61, 0x17, 0x7E, 0xC5, 0xAC,  // 0xF0
};

using namespace inx;

namespace {

// Pass-through command bytes ahead of the open/close byte.
constexpr unsigned char kPassThroughCommand1 = 0xEA;
constexpr unsigned char kPassThroughCommand2 = 0x10;

// IN525 unlock.
constexpr unsigned char kRegUnlock1 = 0x38;
constexpr unsigned char kRegUnlock2 = 0x39;
constexpr unsigned char kRegReset = 0x49;
constexpr unsigned char kResetCommand = 0x80;

struct UnlockStep {
    unsigned char reg;
    unsigned char value;
    const char* failure;
};

const UnlockStep kUnlockSteps[] = {
    {kRegUnlock1, kUnlock1Command, "INX Vcom bufUnlock1Command error\n\n"},
    {kRegUnlock2, kUnlock2Command, "INX Vcom bufUnlock2Command error\n\n"},
    {kRegReset, kResetCommand, "INX Vcom reset error\n\n"},
};

// IN525 pass-through status: reads 05 25 once the bridge passes traffic.
constexpr unsigned char kRegPassStatus = 0xF0;
constexpr unsigned char kPassStatusOpen0 = 0x05;
constexpr unsigned char kPassStatusOpen1 = 0x25;
constexpr unsigned int kPassStatusSize = 2;
constexpr useconds_t kPassStatusSettleUs = 15000;  // taken twice after each status read

// The bridge answered with other bytes: not passing traffic yet. Our own
// verdict, not a bus status, so -1 like the driver's other refusals.
constexpr int kPassThroughClosed = -1;

constexpr int kPassThroughAttempts = 10;

// CRC-8, x^8 + x^6 + x^5 + x^3 + 1, MSB first, run in a 16-bit register. The
// chips shift 16 times per byte, so every data byte is followed by a zero byte.
constexpr unsigned short kCrcPolynomial = 0xB480;  // 0x169 << 7
constexpr unsigned short kCrcTopBit = 0x8000;
constexpr int kCrcShiftsPerByte = 16;

}  // namespace

namespace inx {

int sendPassThrough(VCOMICDriver& driver, unsigned char openClose)
{
    unsigned char command[] = {kPassThroughCommand1, kPassThroughCommand2, openClose};
    return driver.writeNumBytes(kBridgeAddr, regio::kSubAddrBytes, kRegPassThrough, command,
                                sizeof command);
}

}  // namespace inx

int VCOMICDriver::inx525_pass_enable()
{
    const int ret = sendPassThrough(*this, kPassThroughOpen);
    if (ret != 0) {
        VCOM_ERR("INX Vcom enable1 error\n\n");
    }
    usleep(kPassThroughSettleUs);
    return ret;
}

int VCOMICDriver::inx525_pass_disable()
{
    const int ret = sendPassThrough(*this, kPassThroughClose);
    if (ret != 0) {
        VCOM_ERR("INX Vcom Pass1Disable error\n\n");
    }
    usleep(kPassThroughSettleUs);
    return ret;
}

int VCOMICDriver::inx525_unlock()
{
    // Every step is sent even after a failed one; only the reset's status counts.
    int ret = 0;
    for (const UnlockStep& step : kUnlockSteps) {
        ret = regio::writeReg(*this, step.reg, step.value);
        if (ret != 0) {
            VCOM_ERR("%s", step.failure);
        }
    }
    usleep(kUnlockSettleUs);
    return ret;
}

int VCOMICDriver::inx525_check()
{
    unsigned char status[kPassStatusSize] = {};
    const int ret =
        readNumBytes(vcomAddr, regio::kSubAddrBytes, kRegPassStatus, status, kPassStatusSize);
    if (ret != 0) {
        VCOM_ERR("INX Vcom read i2cStatus0 error\n\n");
    }
    VCOM_INFO("INX Vcom status 0x%x 0x%x\n\n", status[0], status[1]);
    usleep(kPassStatusSettleUs);
    usleep(kPassStatusSettleUs);
    if (ret != 0) return ret;
    const bool open = status[0] == kPassStatusOpen0 && status[1] == kPassStatusOpen1;
    return open ? 0 : kPassThroughClosed;
}

void VCOMICDriver::inx525_pass_through()
{
    // A bridge that never reports the pass-through is left to the sequence
    // that follows: its own transfers will tell.
    for (int attempt = 0; attempt < kPassThroughAttempts; ++attempt) {
        inx525_pass_enable();
        if (inx525_check() == 0) {
            VCOM_INFO("INX VCom I2C Through \n\n");
            return;
        }
        inx525_pass_disable();
    }
}

unsigned char VCOMICDriver::inx525_calc_crc(unsigned short seed, unsigned char* data,
                                            unsigned char length)
{
    unsigned short reg = seed;
    for (unsigned int i = 0; i < length; ++i) {
        reg = static_cast<unsigned short>(reg + data[i]);
        for (int shift = 0; shift < kCrcShiftsPerByte; ++shift) {
            if (reg & kCrcTopBit) reg ^= kCrcPolynomial;
            reg = static_cast<unsigned short>(reg << 1);
        }
    }
    return static_cast<unsigned char>(reg >> 8);
}

}  // namespace ic
}  // namespace ze
