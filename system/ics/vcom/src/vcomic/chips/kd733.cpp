// KD733: a 10-bit setting code held relative to a factory reference code.
// The driver's value is the offset of the setting from the reference; the
// reference is read from the chip on every access, never cached or written.
// One data byte per transfer.

#include "../chip_ops.h"
#include "../steps.h"
#include "kd733_chip.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;

// Codes are 10 bits: bits 9..8 sit in bits 1..0 of the high register.
constexpr unsigned int kCodeHighMask = 0x03;
constexpr unsigned int kCodeMask = 0x3FF;

// 0x2B / 0x2C ("databuf3/4"): factory reference code R (read only).
constexpr unsigned int kRegRefHigh = 0x2B;
constexpr unsigned int kRegRefLow = 0x2C;

// 0x2D / 0x2E ("databuf1/2"): setting code S = (R + v) mod 1024 (read / write).
// A read returns the low-byte difference, which is v again for any R.
constexpr unsigned int kRegSetHigh = 0x2D;
constexpr unsigned int kRegSetLow = 0x2E;

// 0xFF: control (write only).
constexpr unsigned int kRegControl = 0xFF;
constexpr unsigned char kControlSave = 0x41;  // store the setting in MTP

constexpr useconds_t kStepUs = 20000;
constexpr useconds_t kSaveProgramUs = 60000;

// The codes' bytes in the frame.
constexpr Operand kSetHigh = word(0);
constexpr Operand kSetLow = word(1);
constexpr Operand kRefHigh = word(2);
constexpr Operand kRefLow = word(3);

void offsetOfSetting(Frame& f)
{
    *f.value = static_cast<unsigned char>(f.words[kSetLow.n] - f.words[kRefLow.n]);
}

void settingForValue(Frame& f)
{
    const unsigned int reference =
        ((f.words[kRefHigh.n] & kCodeHighMask) << 8) | f.words[kRefLow.n];
    const unsigned int setting = (reference + static_cast<unsigned char>(*f.value)) & kCodeMask;
    f.words[kSetHigh.n] = (setting >> 8) & kCodeHighMask;
    f.words[kSetLow.n] = static_cast<unsigned char>(setting);
}

// The first steps of both the read and the update.
const Step kReadReference[] = {
    read(kRegRefHigh, kRefHigh, kStepUs, "[DR_VCOM]get databuf3 fail.\n"),
    read(kRegRefLow, kRefLow, kStepUs, "[DR_VCOM]get databuf4 fail.\n"),
};

const Step kRead[] = {
    read(kRegSetHigh, kSetHigh, kStepUs, "[DR_VCOM]get databuf1 fail.\n"),
    read(kRegSetLow, kSetLow, kStepUs, "[DR_VCOM]get databuf2 fail.\n"),
    note("[DR_VCOM]get databuf1 0x2d: 0x%X, get databuf2 0x2e: 0x%X.\n", kSetHigh, kSetLow),
    compute(kStepUs),
    note("[DR_VCOM]getVcomvalue OK: %d.\n", kValue),
};

// A failed second write leaves 0x2D already holding the new high bits.
const Step kUpdate[] = {
    compute(kStepUs),
    note("[DR_VCOM]write vcom to 0x2d: 0x%X, to 0x2e: 0x%X\n", kSetHigh, kSetLow),
    write(kRegSetHigh, kSetHigh, 0, "[DR_VCOM]VCOMIC adjust databuf1 fail.\n"),
    write(kRegSetLow, kSetLow, kStepUs, "[DR_VCOM]VCOMIC adjust databuf2 fail.\n"),
    wait(kStepUs),
    note("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", kValueByte),
};

const Step kSave[] = {
    write(kRegControl, constant(kControlSave), kStepUs, "[DR_VCOM]save Vcom fail.\n"),
    wait(kSaveProgramUs),
    note("[DR_VCOM]save Vcom OK.\n"),
};

// The reference, then the routine's own steps on the same frame.
int withReference(VCOMICDriver& driver, const Sequence& rest, unsigned short* value,
                  const log::Site& at)
{
    Frame frame{value, {}};
    if (const int ret = run(driver, sequence(kReadReference), frame, at)) return ret;
    return run(driver, rest, frame, at);
}

}  // namespace

int VCOMICDriver::IC_KD733_Read(unsigned short* value)
{
    return withReference(*this, sequence(kRead, offsetOfSetting), value, VCOM_SITE);
}

int VCOMICDriver::IC_KD733_Updata(unsigned short* value)
{
    return withReference(*this, sequence(kUpdate, settingForValue), value, VCOM_SITE);
}

int VCOMICDriver::IC_KD733_Save(unsigned short* value)
{
    return run(*this, sequence(kSave), value, VCOM_SITE);
}

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::kd733.typeIdx,           &VCOMICDriver::IC_KD733_Read,
    &VCOMICDriver::IC_KD733_Updata,           &VCOMICDriver::IC_KD733_Save,
    "[DR_VCOM]VCOM KD733 read success .\n",   "[DR_VCOM]VCOM KD733 read fail .\n",
    "[DR_VCOM]VCOM KD733 Update success .\n", "[DR_VCOM]VCOM KD733 Update fail .\n",
    "[DR_VCOM] KD733 save success .\n",       "[DR_VCOM] KD733 save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
