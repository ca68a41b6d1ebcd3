// BOE: the VCOM setting is a code above 8 bits split over two registers,
// at a fixed offset from the driver's 8-bit value. One data byte per transfer,
// 20 ms between steps.

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

// 0x25 / 0x26: VCOM code, high byte then low byte (read / write).
constexpr unsigned int kRegCodeHigh = 0x25;
constexpr unsigned int kRegCodeLow = 0x26;
// code = v + 401, so 401..656. A read decodes from the low byte alone.
constexpr unsigned int kCodeOffset = 401;

unsigned int encode(unsigned char v)
{
    return v + kCodeOffset;
}
unsigned char decode(unsigned char codeLow)
{
    return static_cast<unsigned char>(codeLow - kCodeOffset);
}

// 0xFF: control (write only).
constexpr unsigned int kRegControl = 0xFF;
constexpr unsigned char kControlReadEnable = 0x01;
constexpr unsigned char kControlSave = 0x40;  // store the code in MTP

constexpr useconds_t kStepUs = 20000;

}  // namespace

int VCOMICDriver::IC_BOE_Read(unsigned short* value)
{
    unsigned char high = 0;
    unsigned char low = 0;
    usleep(kStepUs);
    if (const int ret = writeReg(*this, kRegControl, kControlReadEnable,
                                 "[DR_VCOM]write control address fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret =
            readReg(*this, kRegCodeHigh, &high, "[DR_VCOM]get databuf1 fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret =
            readReg(*this, kRegCodeLow, &low, "[DR_VCOM]get databuf2 fail.\n", VCOM_SITE)) {
        return ret;
    }
    VCOM_INFO("[DR_VCOM]get databuf1 0x25 : 0x%X, get databuf2 0x26 : 0x%X.\n", high, low);
    usleep(kStepUs);
    *value = decode(low);
    VCOM_INFO("[DR_VCOM]getVcomvalue OK: %d.\n", *value);
    return 0;
}

// A failed second write leaves 0x25 already holding the new high byte.
int VCOMICDriver::IC_BOE_Updata(unsigned short* value)
{
    usleep(kStepUs);
    const unsigned char v = static_cast<unsigned char>(*value);
    const unsigned char high = static_cast<unsigned char>(encode(v) >> 8);
    const unsigned char low = static_cast<unsigned char>(encode(v));
    VCOM_INFO("[DR_VCOM]write vcom to 0x25: 0x%X, to 0x26: 0x%X\n", high, low);
    if (const int ret = writeReg(*this, kRegCodeHigh, high,
                                 "[DR_VCOM]VCOMIC adjust databuf1 fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    if (const int ret = writeReg(*this, kRegCodeLow, low, "[DR_VCOM]VCOMIC adjust databuf2 fail.\n",
                                 VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    VCOM_INFO("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", v);
    return 0;
}

int VCOMICDriver::IC_BOE_Save(unsigned short*)
{
    usleep(kStepUs);
    if (const int ret =
            writeReg(*this, kRegControl, kControlSave, "[DR_VCOM]save Vcom fail.\n", VCOM_SITE)) {
        return ret;
    }
    usleep(kStepUs);
    VCOM_INFO("[DR_VCOM]save Vcom OK.\n");
    return 0;
}

const ChipOps chips::kBoe = {
    4,
    &VCOMICDriver::IC_BOE_Read,
    &VCOMICDriver::IC_BOE_Updata,
    &VCOMICDriver::IC_BOE_Save,
    "[DR_VCOM]VCOM BOE read success .\n",
    "[DR_VCOM]VCOM BOE read fail .\n",
    "[DR_VCOM]VCOM BOE Update success .\n",
    "[DR_VCOM]VCOM BOE Update fail .\n",
    "[DR_VCOM]VCOM BOE save success .\n",
    "[DR_VCOM]VCOM BOE save fail .\n",
};

}  // namespace ic
}  // namespace ze
