#pragma once
// Single-register steps of the chip protocols: one sub-address byte, one data
// byte, on the chip at vcomAddr. The variants with a message report a refused
// transfer with the step's own message after the transport's, attributed to
// the routine that runs the step.

#include "VCOMICdriver.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace regio {

constexpr unsigned char kSubAddrBytes = 1;
constexpr unsigned int kDataBytes = 1;

inline int writeReg(VCOMICDriver& drv, unsigned int reg, unsigned char byte)
{
    return drv.writeNumBytes(drv.vcomAddr, kSubAddrBytes, reg, &byte, kDataBytes);
}

inline int readReg(VCOMICDriver& drv, unsigned int reg, unsigned char* byte)
{
    return drv.readNumBytes(drv.vcomAddr, kSubAddrBytes, reg, byte, kDataBytes);
}

inline int writeReg(VCOMICDriver& drv, unsigned int reg, unsigned char byte, const char* failMsg,
                    const log::Site& at)
{
    const int ret = writeReg(drv, reg, byte);
    if (ret != 0) VCOM_ERR_AT(at, "%s", failMsg);
    return ret;
}

inline int readReg(VCOMICDriver& drv, unsigned int reg, unsigned char* byte, const char* failMsg,
                   const log::Site& at)
{
    const int ret = readReg(drv, reg, byte);
    if (ret != 0) VCOM_ERR_AT(at, "%s", failMsg);
    return ret;
}

// The read form of an 8-bit device address, wrapping at 0xFF.
inline unsigned char readAddress(unsigned char addr8)
{
    return static_cast<unsigned char>(addr8 + 1);
}

}  // namespace regio
}  // namespace ic
}  // namespace ze
