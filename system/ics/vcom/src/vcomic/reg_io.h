#pragma once
// Single-register steps of the chip protocols: one sub-address byte, one data
// byte, on the chip at vcomAddr. A refused transfer is reported with the
// step's own message after the transport's, attributed to the routine that
// runs the step.

#include "VCOMICdriver.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace regio {

constexpr unsigned char kSubAddrBytes = 1;
constexpr unsigned int kDataBytes = 1;

inline int writeReg(VCOMICDriver& drv, unsigned int reg, unsigned char byte, const char* failMsg,
                    const log::Site& at)
{
    const int ret = drv.writeNumBytes(drv.vcomAddr, kSubAddrBytes, reg, &byte, kDataBytes);
    if (ret != 0) VCOM_ERR_AT(at, "%s", failMsg);
    return ret;
}

inline int readReg(VCOMICDriver& drv, unsigned int reg, unsigned char* byte, const char* failMsg,
                   const log::Site& at)
{
    const int ret = drv.readNumBytes(drv.vcomAddr, kSubAddrBytes, reg, byte, kDataBytes);
    if (ret != 0) VCOM_ERR_AT(at, "%s", failMsg);
    return ret;
}

}  // namespace regio
}  // namespace ic
}  // namespace ze
