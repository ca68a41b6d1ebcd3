#pragma once

#include <ze/hal/driver.h>

namespace ze {
namespace hal {

// Interface of VCOM drivers. Platform components call a VCOM driver through
// these slots, in this order.
class ZE_PLATFORM_EXPORT Vcom : public Driver {
public:
    Vcom();
    ~Vcom() override;

    virtual void reserved1() = 0;
    virtual void reserved2() = 0;
    virtual int init() = 0;
    virtual int VCOMIC_init() = 0;
    virtual unsigned short u1DrvReadVcom() = 0;
    virtual int u1DrvUpdataVcom(unsigned short value) = 0;
    virtual int u1DrvSaveVcom(unsigned short value) = 0;
    virtual int Get_Vcom_bmp(const char* name, unsigned char patternOn) = 0;
};

}  // namespace hal
}  // namespace ze
