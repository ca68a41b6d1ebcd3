// RT6966: the VCOM code sits in two registers; the value survives a restart
// only in the platform environment, never in the chip.

#include "VCOMICdriver.h"

#include <unistd.h>

#include <cstddef>
#include <cstdio>

#include <flashenv.h>

#include "chip_ops.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace {

using regio::readReg;
using regio::writeReg;

// Registers: one sub-address byte, one data byte each.
//   0x25  VCOM_H  bits 5..0 = D[9..4]   bits 7..6 written 0
//   0x26  VCOM_L  bits 7..4 = D[3..0]   bits 3..0 written 0
constexpr unsigned int kRegVcomH = 0x25;
constexpr unsigned int kRegVcomL = 0x26;

constexpr unsigned int kCodeLowBits = 4;  // D[3..0]
constexpr unsigned int kCodeLowMask = 0x00F;
constexpr unsigned int kVcomHMask = 0x3F;  // D[9..4] in VCOM_H
constexpr unsigned int kVcomLShift = 4;    // D[3..0] in VCOM_L bits 7..4

// D = value + 0x172 (mod 2^16). Values 0..653 map onto codes 0x172..0x3FF;
// only D[9..0] reach the chip.
constexpr unsigned short kCodeOffset = 0x172;

unsigned short codeFromValue(unsigned short value)
{
    return static_cast<unsigned short>(value + kCodeOffset);
}

unsigned short valueFromCode(unsigned int code)
{
    return static_cast<unsigned short>(code - kCodeOffset);
}

unsigned char vcomHFromCode(unsigned short code)
{
    return static_cast<unsigned char>((code >> kCodeLowBits) & kVcomHMask);
}

unsigned char vcomLFromCode(unsigned short code)
{
    return static_cast<unsigned char>((code & kCodeLowMask) << kVcomLShift);
}

unsigned int codeFromRegs(unsigned char vcomH, unsigned char vcomL)
{
    return ((vcomH & kVcomHMask) << kCodeLowBits) | (vcomL >> kVcomLShift);
}

// Pause after the registers were read or written, before the next access.
constexpr useconds_t kSettleUs = 50000;

// A failed transfer ends a read or an update with this, whatever the bus said.
constexpr int kFailed = -1;

// Stored value: "vcom_value" in the platform environment, decimal text.
constexpr const char* kEnvVcomValue = "vcom_value";
constexpr unsigned short kMaxStoredValue = 255;
constexpr std::size_t kStoredTextSize = 16;
constexpr int kOutOfRange = -1;

}  // namespace

int VCOMICDriver::IC_RT6966_Read(unsigned short* value)
{
    unsigned char vcomH = 0;
    unsigned char vcomL = 0;
    if (readReg(*this, kRegVcomH, &vcomH) != 0) {
        VCOM_ERR("[DR_VCOM]read Vcom 0x25 fail.\n");
        return kFailed;
    }
    if (readReg(*this, kRegVcomL, &vcomL) != 0) return kFailed;
    VCOM_INFO("[DR_VCOM] vcom data read from 0x25 is 0x%04x, from 0x26 is 0x%04x\n", vcomH, vcomL);
    *value = valueFromCode(codeFromRegs(vcomH, vcomL));
    VCOM_INFO("[DR_VCOM] vcom data: 0x%x\n", *value);
    usleep(kSettleUs);
    return 0;
}

int VCOMICDriver::IC_RT6966_Updata(unsigned short* value)
{
    const unsigned short code = codeFromValue(*value);
    const unsigned char vcomH = vcomHFromCode(code);
    const unsigned char vcomL = vcomLFromCode(code);
    VCOM_INFO("[DR_VCOM] vcom data from 0x25: 0x%02X\n", vcomH);
    VCOM_INFO("[DR_VCOM] vcom data from 0x26: 0x%02X\n", vcomL);
    int ret = writeReg(*this, kRegVcomH, vcomH);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]VCOMIC adjust Vcom 0x25 fail.\n");
        return kFailed;
    }
    VCOM_INFO("[DR_VCOM]VCOMIC adjust Vcom 0x25 OK : %d.\n\n", vcomH);
    ret = writeReg(*this, kRegVcomL, vcomL);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]VCOMIC adjust Vcom 0x26 fail.\n");
        return kFailed;
    }
    VCOM_INFO("[DR_VCOM]VCOMIC adjust Vcom 0x26 OK : %d.\n", vcomL);
    VCOM_INFO("[DR_VCOM] AdjData:%d Ret:%d.\n", code, ret);
    usleep(kSettleUs);
    return 0;
}

int VCOMICDriver::IC_RT6966_Save(unsigned short* value)
{
    VCOM_INFO("[DR_VCOM] IC_RT6966_Save IN, value:0x%x\n\n", *value);
    if (*value > kMaxStoredValue) {
        VCOM_ERR("[DR_VCOM] unvalid Vcom value.\n");
        return kOutOfRange;
    }
    char text[kStoredTextSize];
    std::snprintf(text, sizeof text, "%d", *value);
    VCOM_INFO("ENV_VCOM_VALUE: %s.\n", text);
    const int ret = FlashEnv::instance()->setEnv(kEnvVcomValue, text);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM] SetEnv of ENV_VCOM_VALUE failed.\n");
        return ret;
    }
    return 0;
}

const ChipOps chips::kRt6966 = {
    6,
    &VCOMICDriver::IC_RT6966_Read,
    &VCOMICDriver::IC_RT6966_Updata,
    &VCOMICDriver::IC_RT6966_Save,
    "[DR_VCOM]VCOM RT6966 read success .\n",
    "[DR_VCOM]VCOM RT6966 read fail .\n",
    "[DR_VCOM]VCOM RT6966 Update success .\n",
    "[DR_VCOM]VCOM RT6966 Update fail .\n",
    "[DR_VCOM]VCOM RT6966 save success .\n",
    "[DR_VCOM]VCOM RT6966 save fail .\n",
};

}  // namespace ic
}  // namespace ze
