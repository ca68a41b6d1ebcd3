// BOE: the VCOM setting is a code above 8 bits split over two registers,
// at a fixed offset from the driver's 8-bit value. One data byte per transfer,
// 20 ms between steps.

#include "../chip_ops.h"
#include "../steps.h"
#include "boe_chip.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;

// 0x25 / 0x26: VCOM code, high byte then low byte (read / write).
constexpr unsigned int kRegCodeHigh = 0x25;
constexpr unsigned int kRegCodeLow = 0x26;
// code = v + 401, so 401..656. A read decodes from the low byte alone.
constexpr unsigned int kCodeOffset = 401;

// 0xFF: control (write only).
constexpr unsigned int kRegControl = 0xFF;
constexpr unsigned char kControlReadEnable = 0x01;
constexpr unsigned char kControlSave = 0x40;  // store the code in MTP

constexpr useconds_t kStepUs = 20000;

// The code's bytes in the frame.
constexpr Operand kHigh = word(0);
constexpr Operand kLow = word(1);

void decode(Frame& f)
{
    *f.value = static_cast<unsigned char>(f.words[kLow.n] - kCodeOffset);
}

void encode(Frame& f)
{
    const unsigned int code = static_cast<unsigned char>(*f.value) + kCodeOffset;
    f.words[kHigh.n] = static_cast<unsigned char>(code >> 8);
    f.words[kLow.n] = static_cast<unsigned char>(code);
}

const Step kRead[] = {
    write(kRegControl, constant(kControlReadEnable), kStepUs,
          "[DR_VCOM]write control address fail.\n"),
    read(kRegCodeHigh, kHigh, kStepUs, "[DR_VCOM]get databuf1 fail.\n"),
    read(kRegCodeLow, kLow, kStepUs, "[DR_VCOM]get databuf2 fail.\n"),
    note("[DR_VCOM]get databuf1 0x25 : 0x%X, get databuf2 0x26 : 0x%X.\n", kHigh, kLow),
    compute(kStepUs),
    note("[DR_VCOM]getVcomvalue OK: %d.\n", kValue),
};

// A failed second write leaves 0x25 already holding the new high byte.
const Step kUpdate[] = {
    compute(kStepUs),
    note("[DR_VCOM]write vcom to 0x25: 0x%X, to 0x26: 0x%X\n", kHigh, kLow),
    write(kRegCodeHigh, kHigh, 0, "[DR_VCOM]VCOMIC adjust databuf1 fail.\n"),
    write(kRegCodeLow, kLow, kStepUs, "[DR_VCOM]VCOMIC adjust databuf2 fail.\n"),
    wait(kStepUs),
    note("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", kValueByte),
};

const Step kSave[] = {
    write(kRegControl, constant(kControlSave), kStepUs, "[DR_VCOM]save Vcom fail.\n"),
    wait(kStepUs),
    note("[DR_VCOM]save Vcom OK.\n"),
};

}  // namespace

int VCOMICDriver::IC_BOE_Read(unsigned short* value)
{
    return run(*this, sequence(kRead, decode), value, VCOM_SITE);
}

int VCOMICDriver::IC_BOE_Updata(unsigned short* value)
{
    return run(*this, sequence(kUpdate, encode), value, VCOM_SITE);
}

int VCOMICDriver::IC_BOE_Save(unsigned short* value)
{
    return run(*this, sequence(kSave), value, VCOM_SITE);
}

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::boe.typeIdx,           &VCOMICDriver::IC_BOE_Read,
    &VCOMICDriver::IC_BOE_Updata,           &VCOMICDriver::IC_BOE_Save,
    "[DR_VCOM]VCOM BOE read success .\n",   "[DR_VCOM]VCOM BOE read fail .\n",
    "[DR_VCOM]VCOM BOE Update success .\n", "[DR_VCOM]VCOM BOE Update fail .\n",
    "[DR_VCOM]VCOM BOE save success .\n",   "[DR_VCOM]VCOM BOE save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
