// G1625: no registers. Every transfer is one byte carrying the 7-bit setting.

#include "VCOMICdriver.h"

#include <unistd.h>

#include "chip_ops.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace {

// Command byte, written to the device address without a sub-address:
//   bits 7..1  setting (bit 7 of the value is lost)
//   bit 0      1: set the setting   0: store it to NVM
// The status byte, read at the address plus one, has the setting in bits 7..1.
constexpr unsigned int kSettingShift = 1;
constexpr unsigned char kCmdSet = 0x01;
constexpr unsigned char kCmdStore = 0x00;

constexpr unsigned char kNoSubAddr = 0;
constexpr unsigned int kSubAddrUnused = 0;
constexpr unsigned int kByteCount = 1;

unsigned char commandByte(unsigned char setting, unsigned char command)
{
    return static_cast<unsigned char>((setting << kSettingShift) | command);
}

unsigned short settingFromStatus(unsigned char status)
{
    return static_cast<unsigned short>(status >> kSettingShift);
}

constexpr useconds_t kCommandLeadUs = 20000;  // before any command
constexpr useconds_t kStoreLeadUs = 20000;    // again before a store command
constexpr useconds_t kNvmWriteUs = 550000;    // NVM programming after a store

int sendCommand(VCOMICDriver& drv, unsigned char cmd)
{
    return drv.writeNumBytes(drv.vcomAddr, kNoSubAddr, kSubAddrUnused, &cmd, kByteCount);
}

int readStatus(VCOMICDriver& drv, unsigned char* status)
{
    return drv.readNumBytes(regio::readAddress(drv.vcomAddr), kNoSubAddr, kSubAddrUnused, status,
                            kByteCount);
}

}  // namespace

int VCOMICDriver::IC_G1625_Read(unsigned short* value)
{
    unsigned char status = 0;
    usleep(kCommandLeadUs);
    const int ret = readStatus(*this, &status);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]getVcomvalue fail!!\n");
        return ret;
    }
    *value = settingFromStatus(status);
    VCOM_INFO("[DR_VCOM]readbuf: 0x%x getVcomvalue OK: %d.\n", status, *value);
    return 0;
}

int VCOMICDriver::IC_G1625_Updata(unsigned short* value)
{
    const unsigned char setting = static_cast<unsigned char>(*value);
    usleep(kCommandLeadUs);
    const unsigned char cmd = commandByte(setting, kCmdSet);
    VCOM_INFO("[DR_VCOM]vcomdata : %d, writebuf : 0x%x .\n", setting, cmd);
    const int ret = sendCommand(*this, cmd);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]VCOMIC adjust Vcom fail.\n");
        return ret;
    }
    VCOM_INFO("[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", setting);
    return 0;
}

int VCOMICDriver::IC_G1625_Save(unsigned short* value)
{
    const unsigned char setting = static_cast<unsigned char>(*value);
    usleep(kCommandLeadUs);
    const unsigned char cmd = commandByte(setting, kCmdStore);
    VCOM_INFO("[DR_VCOM]vcomdata : %d, savebuf : 0x%x .\n", setting, cmd);
    usleep(kStoreLeadUs);
    const int ret = sendCommand(*this, cmd);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]save Vcom fail.\n");
        return ret;
    }
    usleep(kNvmWriteUs);
    VCOM_INFO("[DR_VCOM]save Vcom %d OK.\n", setting);
    return 0;
}

const ChipOps chips::kG1625 = {
    9,
    &VCOMICDriver::IC_G1625_Read,
    &VCOMICDriver::IC_G1625_Updata,
    &VCOMICDriver::IC_G1625_Save,
    "[DR_VCOM]VCOM G1625 read success .\n",
    "[DR_VCOM]VCOM G1625 read fail .\n",
    "[DR_VCOM]VCOM G1625 Update success .\n",
    "[DR_VCOM]VCOM G1625 Update fail .\n",
    "[DR_VCOM]VCOM G1625 save success .\n",
    "[DR_VCOM]VCOM G1625 save fail .\n",
};

}  // namespace ic
}  // namespace ze
