#pragma once
// The AUO family (AUO, KD532P): one 8-bit VCOM setting and a save command,
// one data byte per transfer. The members differ in their waits and in the
// AUO's access gate; the registers, transfers and messages are the family's.

#include "../steps.h"

namespace ze {
namespace ic {
namespace auo_family {

// 0x00: command (write only).
constexpr unsigned int kRegCommand = 0x00;
constexpr unsigned char kCommandSave = 0x0A;  // store the setting in MTP

// 0x01: VCOM setting, 0..255 (read / write).
constexpr unsigned int kRegSetting = 0x01;

// The family's transfers, each with the wait its member takes before it.
constexpr steps::Step readSetting(useconds_t waitUs)
{
    return steps::read(kRegSetting, steps::kValue, waitUs, "[DR_VCOM]getVcomvalue fail!!\n");
}
constexpr steps::Step writeSetting(useconds_t waitUs)
{
    return steps::write(kRegSetting, steps::kValue, waitUs, "[DR_VCOM]VCOMIC adjust Vcom fail.\n");
}
constexpr steps::Step commandSave(useconds_t waitUs)
{
    return steps::write(kRegCommand, steps::constant(kCommandSave), waitUs,
                        "[DR_VCOM]save Vcom fail.\n");
}

// What follows each transfer's success.
constexpr steps::Step kSettingRead = steps::note("[DR_VCOM]getVcomvalue OK: %d.\n", steps::kValue);
constexpr steps::Step kSettingWritten =
    steps::note("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", steps::kValueByte);
constexpr steps::Step kSaved = steps::note("[DR_VCOM]save Vcom OK.\n");

}  // namespace auo_family
}  // namespace ic
}  // namespace ze
