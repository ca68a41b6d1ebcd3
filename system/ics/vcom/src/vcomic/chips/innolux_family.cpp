// The Innolux family's shared code: the bridge in front of the chips, the CRC
// of their VCOM data and the attempts of their update and save.

#include "innolux_family.h"

#include "../reg_io.h"

namespace ze {
namespace ic {
namespace {

// Pass-through command bytes ahead of the open/close byte.
constexpr unsigned char kPassThroughCommand1 = 0xEA;
constexpr unsigned char kPassThroughCommand2 = 0x10;

// CRC-8, x^8 + x^6 + x^5 + x^3 + 1, MSB first, run in a 16-bit register. The
// chips shift 16 times per byte, so every data byte is followed by a zero byte.
constexpr unsigned short kCrcPolynomial = 0xB480;  // 0x169 << 7
constexpr unsigned short kCrcTopBit = 0x8000;
constexpr int kCrcShiftsPerByte = 16;

// Pass-through status once the bridge passes traffic: 05 25, read at 0xF0 of
// the chip's address.
constexpr unsigned char kRegPassStatus = 0xF0;
constexpr unsigned char kPassStatusOpen0 = 0x05;
constexpr unsigned char kPassStatusOpen1 = 0x25;
constexpr unsigned int kPassStatusSize = 2;
constexpr int kPassThroughAttempts = 10;
// The bridge answered with other bytes: not passing traffic yet. Our own
// verdict, not a bus status, so -1 like the driver's other refusals.
constexpr int kPassThroughClosed = -1;
constexpr useconds_t kPassStatusSettleUs = 15000;  // taken twice after each status read

}  // namespace

namespace inx {

int sendPassThrough(VCOMICDriver& driver, unsigned char openClose)
{
    unsigned char command[] = {kPassThroughCommand1, kPassThroughCommand2, openClose};
    return driver.writeNumBytes(kBridgeAddr, regio::kSubAddrBytes, kRegPassThrough, command,
                                sizeof command);
}

void reportFailure(const log::Site& at, const Report& how, int status)
{
    if (status == 0 || how.text == nullptr) return;
    if (how.withStatus) {
        VCOM_LOG_AT(at, how.level, "[%s]%s, ret = %d.\n\n", log::kTag, how.text, status);
    } else {
        VCOM_LOG_AT(at, how.level, "%s", how.text);
    }
}

Outcome runAttempts(VCOMICDriver& driver, const log::Site& at, const Chip& chip,
                    const Operation& op, unsigned char vcom)
{
    unsigned char status = chip.verdictBeforeFirstRead;
    int ret = 0;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const Attempt done = chip.attempt(driver, at, op, vcom, &status);
        ret = done.ret;
        if (done.stopped) return {true, ret};
        if (!done.verdict) continue;
        if (op.verdictBefore != nullptr) {
            VCOM_INFO_AT(at, "%s%x%s", op.verdictBefore, status, op.verdictAfter);
        }
        if (status == chip.statusWriteAgain) {
            VCOM_INFO_AT(at, "%s", op.writeAgain);
            continue;
        }
        VCOM_INFO_AT(at, "%s", op.taken);
        if (!op.program) break;
        reportFailure(at, op.programFailed,
                      regio::writeReg(driver, chip.regProgram, chip.programCommand));
        usleep(chip.programUs);
        reportFailure(at, op.verdictWriteBackFailed,
                      regio::writeReg(driver, chip.regVerdict, status));
        if (status == chip.statusProgramAgain) continue;
        VCOM_INFO_AT(at, "%s", op.programmed);
        break;
    }
    if (op.program) {
        ret = regio::writeReg(driver, chip.regLock, chip.lockCommand);
        reportFailure(at, op.lockFailed, ret);
    }
    usleep(kFinishSettleUs);
    return {false, ret};
}

}  // namespace inx

using namespace inx;

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
