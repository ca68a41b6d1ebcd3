#pragma once

#include <boost/shared_ptr.hpp>

#include <ze/hal/iic.h>
#include <ze/hal/vcom.h>

#include "../vcom_export.h"

namespace ze {
namespace ic {

// IN518 record CRCs: entry v is inx525_calc_crc(0xD200, {0x01, 0x89, 0x57, v}, 4).
ZE_IC_EXPORT extern const unsigned char crc[256];

// The VCOM driver: board configuration, register transport, I2C switch, the
// chip protocols and the dispatch of read, update and save to the fitted chip.
class ZE_IC_EXPORT VCOMICDriver : public ze::hal::Vcom {
public:
    VCOMICDriver(int driverId, boost::shared_ptr<ze::hal::IIC> iic);
    ~VCOMICDriver() override;

    // ze::hal::Vcom, in slot order.
    void reserved1() override;
    void reserved2() override;
    int init() override;
    int VCOMIC_init() override;
    unsigned short u1DrvReadVcom() override;
    int u1DrvUpdataVcom(unsigned short value) override;
    int u1DrvSaveVcom(unsigned short value) override;
    int Get_Vcom_bmp(const char* name, unsigned char patternOn) override;

    // u1DrvReadVcom with the routine's status: 0, the chip routine's failure
    // status, or -ENODEV when the board's TypeIdx names no chip.
    int readVcom(unsigned short* value);

    // Board configuration: the "[VCOM]" section of the board file.
    int Get_Vcom_DataSeparation();

    // Register transport on i2cBus. Addresses are in 8-bit form.
    int writeNumBytes(unsigned char u8devAddr, unsigned char regAddrCount, unsigned int u32SubAddr,
                      unsigned char* pBuf, unsigned int length);
    int readNumBytes(unsigned char u8devAddr, unsigned char regAddrCount, unsigned int u32SubAddr,
                     unsigned char* pBuf, unsigned int length);

    // GPIO-controlled I2C switch in front of the chip (I2cSwitchType 1).
    int Set_I2c_Switch(unsigned char on);

    // Chip routines, each chip in its own file under chips/ with its dispatch
    // descriptor; declared here because the published class carries them.
    int IC_AUO_Read(unsigned short* value);
    int IC_AUO_Updata(unsigned short* value);
    int IC_AUO_Save(unsigned short* value);
    int IC_KD532P_Read(unsigned short* value);
    int IC_KD532P_Updata(unsigned short* value);
    int IC_KD532P_Save(unsigned short* value);

    int IC_BOE_Read(unsigned short* value);
    int IC_BOE_Updata(unsigned short* value);
    int IC_BOE_Save(unsigned short* value);

    int IC_KD733_Read(unsigned short* value);
    int IC_KD733_Updata(unsigned short* value);
    int IC_KD733_Save(unsigned short* value);

    int IC_RT6966_Read(unsigned short* value);
    int IC_RT6966_Updata(unsigned short* value);
    int IC_RT6966_Save(unsigned short* value);

    int IC_G1625_Read(unsigned short* value);
    int IC_G1625_Updata(unsigned short* value);
    int IC_G1625_Save(unsigned short* value);

    // Innolux: pass-through bridge, IN525 unlock and status check, CRC.
    int inx525_pass_enable();
    int inx525_pass_disable();
    int inx525_unlock();
    int inx525_check();
    void inx525_pass_through();
    static unsigned char inx525_calc_crc(unsigned short seed, unsigned char* data,
                                         unsigned char length);

    int inx525_calc_vcom(unsigned char* block, unsigned char value);
    int IC_INX_IN525_Read(unsigned short* value);
    int IC_INX_IN525_Updata(unsigned short* value);
    int IC_INX_IN525_Save(unsigned short* value);

    int IC_INX_IN518_Read(unsigned short* value);
    int IC_INX_IN518_Updata(unsigned short* value);
    int IC_INX_IN518_Save(unsigned short* value);

    // Board configuration as last parsed, open to the platform's diagnostics.
    int typeIdx;
    int driverId;
    unsigned char i2cBus;
    unsigned char vcomAddr;       // 8-bit form: 7-bit address << 1
    unsigned char gpioAddr;       // programming / access-gate GPIO of some chips
    unsigned int gpioStatus;      // level of that GPIO during an access
    unsigned char ldmFlag;        // local dimming; reported, not acted on
    unsigned char i2cSwitchType;  // 1: chip behind the GPIO-controlled I2C switch
    unsigned char configLoaded;   // a parse has completed
    boost::shared_ptr<ze::hal::IIC> iic;
};

}  // namespace ic
}  // namespace ze
