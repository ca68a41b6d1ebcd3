#pragma once
// Single-register transfers of the chip protocols: one sub-address byte, one
// data byte, on the chip at vcomAddr. Fixed sequences of them are step tables
// (steps.h).

#include "VCOMICdriver.h"

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

// The read form of an 8-bit device address, wrapping at 0xFF.
inline unsigned char readAddress(unsigned char addr8)
{
    return static_cast<unsigned char>(addr8 + 1);
}

}  // namespace regio
}  // namespace ic
}  // namespace ze
