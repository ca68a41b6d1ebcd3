// RT6966: the VCOM code sits in two registers; the value survives a restart
// only in the platform environment, never in the chip.

#include <cstddef>
#include <cstdio>

#include <flashenv.h>

#include "../chip_ops.h"
#include "../steps.h"
#include "../vcom_log.h"
#include "rt6966_chip.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;

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

// Pause after the registers were read or written, before the next access.
constexpr useconds_t kSettleUs = 50000;

// Stored value: "vcom_value" in the platform environment, decimal text.
constexpr const char* kEnvVcomValue = "vcom_value";
constexpr unsigned short kMaxStoredValue = 255;
constexpr std::size_t kStoredTextSize = 16;
constexpr int kOutOfRange = -1;

constexpr Operand kVcomH = word(0);
constexpr Operand kVcomL = word(1);
constexpr Operand kCode = word(2);
// An update's status when it reports the code: its last write's, which succeeded.
constexpr Operand kLastWriteOk = constant(0);

void valueFromRegs(Frame& f)
{
    const unsigned int code =
        ((f.words[kVcomH.n] & kVcomHMask) << kCodeLowBits) | (f.words[kVcomL.n] >> kVcomLShift);
    *f.value = static_cast<unsigned short>(code - kCodeOffset);
}

void regsFromValue(Frame& f)
{
    const unsigned short code = static_cast<unsigned short>(*f.value + kCodeOffset);
    f.words[kCode.n] = code;
    f.words[kVcomH.n] = (code >> kCodeLowBits) & kVcomHMask;
    f.words[kVcomL.n] = static_cast<unsigned char>((code & kCodeLowMask) << kVcomLShift);
}

// A failed transfer ends a read or an update with kFailed, whatever the bus said.
const Step kRead[] = {
    read(kRegVcomH, kVcomH, 0, "[DR_VCOM]read Vcom 0x25 fail.\n", OnFail::StopFailed),
    read(kRegVcomL, kVcomL, 0, nullptr, OnFail::StopFailed),
    note("[DR_VCOM] vcom data read from 0x25 is 0x%04x, from 0x26 is 0x%04x\n", kVcomH, kVcomL),
    compute(),
    note("[DR_VCOM] vcom data: 0x%x\n", kValue),
    wait(kSettleUs),
};

const Step kUpdate[] = {
    compute(),
    note("[DR_VCOM] vcom data from 0x25: 0x%02X\n", kVcomH),
    note("[DR_VCOM] vcom data from 0x26: 0x%02X\n", kVcomL),
    write(kRegVcomH, kVcomH, 0, "[DR_VCOM]VCOMIC adjust Vcom 0x25 fail.\n", OnFail::StopFailed),
    note("[DR_VCOM]VCOMIC adjust Vcom 0x25 OK : %d.\n\n", kVcomH),
    write(kRegVcomL, kVcomL, 0, "[DR_VCOM]VCOMIC adjust Vcom 0x26 fail.\n", OnFail::StopFailed),
    note("[DR_VCOM]VCOMIC adjust Vcom 0x26 OK : %d.\n", kVcomL),
    note("[DR_VCOM] AdjData:%d Ret:%d.\n", kCode, kLastWriteOk),
    wait(kSettleUs),
};

}  // namespace

int VCOMICDriver::IC_RT6966_Read(unsigned short* value)
{
    return run(*this, sequence(kRead, valueFromRegs), value, VCOM_SITE);
}

int VCOMICDriver::IC_RT6966_Updata(unsigned short* value)
{
    return run(*this, sequence(kUpdate, regsFromValue), value, VCOM_SITE);
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

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::rt6966.typeIdx,           &VCOMICDriver::IC_RT6966_Read,
    &VCOMICDriver::IC_RT6966_Updata,           &VCOMICDriver::IC_RT6966_Save,
    "[DR_VCOM]VCOM RT6966 read success .\n",   "[DR_VCOM]VCOM RT6966 read fail .\n",
    "[DR_VCOM]VCOM RT6966 Update success .\n", "[DR_VCOM]VCOM RT6966 Update fail .\n",
    "[DR_VCOM]VCOM RT6966 save success .\n",   "[DR_VCOM]VCOM RT6966 save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
