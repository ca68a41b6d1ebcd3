// AUO and KD532P: one 8-bit VCOM setting and a save command, one data byte
// per transfer. The AUO answers only while its access gate GPIO is held at
// gpioStatus; the KD532P has no gate but needs longer to program its memory.

#include "VCOMICdriver.h"

#include <unistd.h>

#include <qel/soc.h>

#include "chip_ops.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace {

// 0x00: command (write only).
constexpr unsigned int kRegCommand = 0x00;
constexpr unsigned char kCommandSave = 0x0A;  // store the setting in MTP

// 0x01: VCOM setting, 0..255 (read / write).
constexpr unsigned int kRegSetting = 0x01;

// AUO waits.
constexpr useconds_t kAuoReadSettleUs = 80000;   // before a read
constexpr useconds_t kAuoUpdateSettleUs = 5000;  // before an update
constexpr useconds_t kAuoGateSetupUs = 5000;     // gate open to transfer
constexpr useconds_t kAuoGateHoldUs = 60000;     // transfer to gate close

// KD532P waits.
constexpr useconds_t kKd532pReadSettleUs = 80000;
constexpr useconds_t kKd532pWriteSettleUs = 5000;    // before an update or a save
constexpr useconds_t kKd532pSaveProgramUs = 500000;  // MTP programming after a save

// The gate's resting level is the opposite of its access level, whatever
// gpioStatus holds; the messages call them high and low.
unsigned int gateRestLevel(unsigned int accessLevel)
{
    return accessLevel == 0 ? 1u : 0u;
}

// A gate that fails to open is only reported: the chip may still answer.
void openGate(const VCOMICDriver& drv, const log::Site& at)
{
    if (QEL_GPIOSetValue(drv.gpioAddr, drv.gpioStatus) != 0) {
        VCOM_ERR_AT(at, "[DR_VCOM]setGpio low fail.\n");
    }
}

int closeGate(const VCOMICDriver& drv, const log::Site& at)
{
    usleep(kAuoGateHoldUs);
    const int ret = QEL_GPIOSetValue(drv.gpioAddr, gateRestLevel(drv.gpioStatus));
    if (ret != 0) {
        VCOM_ERR_AT(at, "[DR_VCOM]setGpio High fail.\n");
    }
    return ret;
}

// The transfers and messages both chips share.

int readSetting(VCOMICDriver& drv, unsigned short* value, const log::Site& at)
{
    unsigned char setting = 0;
    const int ret = regio::readReg(drv, kRegSetting, &setting);
    if (ret != 0) {
        VCOM_ERR_AT(at, "[DR_VCOM]getVcomvalue fail!!\n");
        return ret;
    }
    *value = setting;
    VCOM_INFO_AT(at, "[DR_VCOM]getVcomvalue OK: %d.\n", setting);
    return 0;
}

int writeSetting(VCOMICDriver& drv, const unsigned short* value, const log::Site& at)
{
    unsigned char setting = static_cast<unsigned char>(*value);
    const int ret = regio::writeReg(drv, kRegSetting, setting);
    if (ret != 0) {
        VCOM_ERR_AT(at, "[DR_VCOM]VCOMIC adjust Vcom fail.\n");
        return ret;
    }
    VCOM_INFO_AT(at, "[DR_VCOM]VCOMIC adjust Vcom OK : %d.\n", setting);
    return 0;
}

int commandSave(VCOMICDriver& drv, const log::Site& at)
{
    const int ret = regio::writeReg(drv, kRegCommand, kCommandSave);
    if (ret != 0) {
        VCOM_ERR_AT(at, "[DR_VCOM]save Vcom fail.\n");
        return ret;
    }
    VCOM_INFO_AT(at, "[DR_VCOM]save Vcom OK.\n");
    return 0;
}

}  // namespace

// AUO: the gate is closed again only after a successful transfer, and a gate
// that will not close fails the operation even though the chip took the transfer.

int VCOMICDriver::IC_AUO_Read(unsigned short* value)
{
    usleep(kAuoReadSettleUs);
    openGate(*this, VCOM_SITE);
    usleep(kAuoGateSetupUs);
    const int ret = readSetting(*this, value, VCOM_SITE);
    return ret != 0 ? ret : closeGate(*this, VCOM_SITE);
}

int VCOMICDriver::IC_AUO_Updata(unsigned short* value)
{
    usleep(kAuoUpdateSettleUs);
    openGate(*this, VCOM_SITE);
    usleep(kAuoGateSetupUs);
    const int ret = writeSetting(*this, value, VCOM_SITE);
    return ret != 0 ? ret : closeGate(*this, VCOM_SITE);
}

int VCOMICDriver::IC_AUO_Save(unsigned short*)
{
    openGate(*this, VCOM_SITE);
    usleep(kAuoGateSetupUs);
    const int ret = commandSave(*this, VCOM_SITE);
    return ret != 0 ? ret : closeGate(*this, VCOM_SITE);
}

int VCOMICDriver::IC_KD532P_Read(unsigned short* value)
{
    usleep(kKd532pReadSettleUs);
    return readSetting(*this, value, VCOM_SITE);
}

int VCOMICDriver::IC_KD532P_Updata(unsigned short* value)
{
    usleep(kKd532pWriteSettleUs);
    return writeSetting(*this, value, VCOM_SITE);
}

int VCOMICDriver::IC_KD532P_Save(unsigned short*)
{
    usleep(kKd532pWriteSettleUs);
    const int ret = commandSave(*this, VCOM_SITE);
    if (ret != 0) return ret;
    usleep(kKd532pSaveProgramUs);
    return 0;
}

const ChipOps chips::kAuo = {
    1,
    &VCOMICDriver::IC_AUO_Read,
    &VCOMICDriver::IC_AUO_Updata,
    &VCOMICDriver::IC_AUO_Save,
    "[DR_VCOM]VCOM AUO read success .\n",
    "[DR_VCOM]VCOM AUO read fail .\n",
    "[DR_VCOM]VCOM AUO Update success .\n",
    "[DR_VCOM]VCOM AUO Update fail .\n",
    "[DR_VCOM]VCOM AUO save success .\n",
    "[DR_VCOM]VCOM AUO save fail .\n",
};

const ChipOps chips::kKd532p = {
    10,
    &VCOMICDriver::IC_KD532P_Read,
    &VCOMICDriver::IC_KD532P_Updata,
    &VCOMICDriver::IC_KD532P_Save,
    "[DR_VCOM]VCOM IC_KD532P read success .\n",
    "[DR_VCOM]VCOM IC_KD532P read fail .\n",
    "[DR_VCOM]VCOM KD532P Update success .\n",
    "[DR_VCOM]VCOM KD532P Update fail .\n",
    "[DR_VCOM] KD532P save success .\n",
    "[DR_VCOM] KD532P save fail .\n",
};

}  // namespace ic
}  // namespace ze
