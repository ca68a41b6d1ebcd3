// G1625: no registers. Every transfer is one byte carrying the 7-bit setting.

#include "../chip_ops.h"
#include "../steps.h"
#include "g1625_chip.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;

// Command byte, written to the device address without a sub-address:
//   bits 7..1  setting (bit 7 of the value is lost)
//   bit 0      1: set the setting   0: store it to NVM
// The status byte, read at the address plus one, has the setting in bits 7..1.
constexpr unsigned int kSettingShift = 1;
constexpr unsigned char kCmdSet = 0x01;
constexpr unsigned char kCmdStore = 0x00;

constexpr useconds_t kCommandLeadUs = 20000;  // before any command
constexpr useconds_t kStoreLeadUs = 20000;    // again before a store command
constexpr useconds_t kNvmWriteUs = 550000;    // NVM programming after a store

constexpr Operand kStatus = word(0);
constexpr Operand kSetting = word(0);
constexpr Operand kCommand = word(1);

void settingFromStatus(Frame& f)
{
    *f.value = static_cast<unsigned short>(f.words[kStatus.n] >> kSettingShift);
}

template <unsigned char command>
void commandFor(Frame& f)
{
    const unsigned char setting = static_cast<unsigned char>(*f.value);
    f.words[kSetting.n] = setting;
    f.words[kCommand.n] = static_cast<unsigned char>((setting << kSettingShift) | command);
}

const Step kRead[] = {
    receive(kStatus, kCommandLeadUs, "[DR_VCOM]getVcomvalue fail!!\n"),
    compute(),
    note("[DR_VCOM]readbuf: 0x%x getVcomvalue OK: %d.\n", kStatus, kValue),
};

const Step kUpdate[] = {
    compute(kCommandLeadUs),
    note("[DR_VCOM]vcomdata : %d, writebuf : 0x%x .\n", kSetting, kCommand),
    send(kCommand, 0, "[DR_VCOM]VCOMIC adjust Vcom fail.\n"),
    note("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", kSetting),
};

const Step kSave[] = {
    compute(kCommandLeadUs),
    note("[DR_VCOM]vcomdata : %d, savebuf : 0x%x .\n", kSetting, kCommand),
    send(kCommand, kStoreLeadUs, "[DR_VCOM]save Vcom fail.\n"),
    wait(kNvmWriteUs),
    note("[DR_VCOM]save Vcom %d OK.\n", kSetting),
};

}  // namespace

int VCOMICDriver::IC_G1625_Read(unsigned short* value)
{
    return run(*this, sequence(kRead, settingFromStatus), value, VCOM_SITE);
}

int VCOMICDriver::IC_G1625_Updata(unsigned short* value)
{
    return run(*this, sequence(kUpdate, commandFor<kCmdSet>), value, VCOM_SITE);
}

int VCOMICDriver::IC_G1625_Save(unsigned short* value)
{
    return run(*this, sequence(kSave, commandFor<kCmdStore>), value, VCOM_SITE);
}

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::g1625.typeIdx,           &VCOMICDriver::IC_G1625_Read,
    &VCOMICDriver::IC_G1625_Updata,           &VCOMICDriver::IC_G1625_Save,
    "[DR_VCOM]VCOM G1625 read success .\n",   "[DR_VCOM]VCOM G1625 read fail .\n",
    "[DR_VCOM]VCOM G1625 Update success .\n", "[DR_VCOM]VCOM G1625 Update fail .\n",
    "[DR_VCOM]VCOM G1625 save success .\n",   "[DR_VCOM]VCOM G1625 save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
