// KD733: a 10-bit setting code held relative to a factory reference code.
// The driver's value is the offset of the setting from the reference; the
// reference is read from the chip on every access, never cached or written.
// One data byte per transfer.

#include "VCOMICdriver.h"

#include <unistd.h>

#include "chip_ops.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace {

using regio::readReg;
using regio::writeReg;

// Codes are 10 bits: bits 9..8 sit in bits 1..0 of the high register.
constexpr unsigned int kCodeHighMask = 0x03;
constexpr unsigned int kCodeMask = 0x3FF;

unsigned int code(unsigned char high, unsigned char low)
{
    return ((high & kCodeHighMask) << 8) | low;
}
unsigned char codeHigh(unsigned int code)
{
    return static_cast<unsigned char>((code >> 8) & kCodeHighMask);
}
unsigned char codeLow(unsigned int code)
{
    return static_cast<unsigned char>(code);
}

// 0x2B / 0x2C ("databuf3/4"): factory reference code R (read only).
constexpr unsigned int kRegRefHigh = 0x2B;
constexpr unsigned int kRegRefLow = 0x2C;

// 0x2D / 0x2E ("databuf1/2"): setting code S = (R + v) mod 1024 (read / write).
// A read returns the low-byte difference, which is v again for any R.
constexpr unsigned int kRegSetHigh = 0x2D;
constexpr unsigned int kRegSetLow = 0x2E;

unsigned int settingFor(unsigned int reference, unsigned char v)
{
    return (reference + v) & kCodeMask;
}
unsigned char offsetOf(unsigned char setLow, unsigned char refLow)
{
    return static_cast<unsigned char>(setLow - refLow);
}

// 0xFF: control (write only).
constexpr unsigned int kRegControl = 0xFF;
constexpr unsigned char kControlSave = 0x41;  // store the setting in MTP

constexpr useconds_t kStepUs = 20000;
constexpr useconds_t kSaveProgramUs = 60000;

// The first steps of both the read and the update.
int readReference(VCOMICDriver& drv, unsigned char* high, unsigned char* low, const log::Site& at)
{
    usleep(kStepUs);
    if (const int ret = readReg(drv, kRegRefHigh, high, "[DR_VCOM]get databuf3 fail.\n", at)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret = readReg(drv, kRegRefLow, low, "[DR_VCOM]get databuf4 fail.\n", at)) {
        return ret;
    }
    usleep(kStepUs);
    return 0;
}

}  // namespace

int VCOMICDriver::IC_KD733_Read(unsigned short* value)
{
    unsigned char refHigh = 0, refLow = 0, setHigh = 0, setLow = 0;
    if (const int ret = readReference(*this, &refHigh, &refLow, VCOM_SITE)) return ret;
    if (const int ret =
            readReg(*this, kRegSetHigh, &setHigh, "[DR_VCOM]get databuf1 fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret =
            readReg(*this, kRegSetLow, &setLow, "[DR_VCOM]get databuf2 fail.\n", VCOM_SITE)) {
        return ret;
    }
    VCOM_INFO("[DR_VCOM]get databuf1 0x2d: 0x%X, get databuf2 0x2e: 0x%X.\n", setHigh, setLow);
    usleep(kStepUs);
    *value = offsetOf(setLow, refLow);
    VCOM_INFO("[DR_VCOM]getVcomvalue OK: %d.\n", *value);
    return 0;
}

// A failed second write leaves 0x2D already holding the new high bits.
int VCOMICDriver::IC_KD733_Updata(unsigned short* value)
{
    unsigned char refHigh = 0, refLow = 0;
    if (const int ret = readReference(*this, &refHigh, &refLow, VCOM_SITE)) return ret;
    const unsigned char v = static_cast<unsigned char>(*value);
    const unsigned int setting = settingFor(code(refHigh, refLow), v);
    VCOM_INFO("[DR_VCOM]write vcom to 0x2d: 0x%X, to 0x2e: 0x%X\n", codeHigh(setting),
              codeLow(setting));
    if (const int ret = writeReg(*this, kRegSetHigh, codeHigh(setting),
                                 "[DR_VCOM]VCOMIC adjust databuf1 fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret = writeReg(*this, kRegSetLow, codeLow(setting),
                                 "[DR_VCOM]VCOMIC adjust databuf2 fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    VCOM_INFO("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", v);
    return 0;
}

int VCOMICDriver::IC_KD733_Save(unsigned short*)
{
    usleep(kStepUs);
    if (const int ret =
            writeReg(*this, kRegControl, kControlSave, "[DR_VCOM]save Vcom fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kSaveProgramUs);
    VCOM_INFO("[DR_VCOM]save Vcom OK.\n");
    return 0;
}

const ChipOps chips::kKd733 = {
    8,
    &VCOMICDriver::IC_KD733_Read,
    &VCOMICDriver::IC_KD733_Updata,
    &VCOMICDriver::IC_KD733_Save,
    "[DR_VCOM]VCOM KD733 read success .\n",
    "[DR_VCOM]VCOM KD733 read fail .\n",
    "[DR_VCOM]VCOM KD733 Update success .\n",
    "[DR_VCOM]VCOM KD733 Update fail .\n",
    "[DR_VCOM] KD733 save success .\n",
    "[DR_VCOM] KD733 save fail .\n",
};

}  // namespace ic
}  // namespace ze
