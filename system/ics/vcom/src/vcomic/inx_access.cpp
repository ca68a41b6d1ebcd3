// What both Innolux chips share: the pass-through command of the bridge in
// front of them and the CRC that guards their VCOM data.

#include "VCOMICdriver.h"
#include "inx_common.h"
#include "reg_io.h"

namespace ze {
namespace ic {
namespace {

// Pass-through command bytes ahead of the open/close byte.
constexpr unsigned char kPassThroughCommand1 = 0xEA;
constexpr unsigned char kPassThroughCommand2 = 0x10;

// CRC-8, x^8 + x^6 + x^5 + x^3 + 1, MSB first, run in a 16-bit register. The
// chips shift 16 times per byte, so every data byte is followed by a zero byte.
constexpr unsigned short kCrcPolynomial = 0xB480;  // 0x169 << 7
constexpr unsigned short kCrcTopBit = 0x8000;
constexpr int kCrcShiftsPerByte = 16;

}  // namespace

namespace inx {

int sendPassThrough(VCOMICDriver& driver, unsigned char openClose)
{
    unsigned char command[] = {kPassThroughCommand1, kPassThroughCommand2, openClose};
    return driver.writeNumBytes(kBridgeAddr, regio::kSubAddrBytes, kRegPassThrough, command,
                                sizeof command);
}

}  // namespace inx

unsigned char VCOMICDriver::inx525_calc_crc(unsigned short seed, unsigned char* data,
                                            unsigned char length)
{
    unsigned short reg = seed;
    for (unsigned int i = 0; i < length; ++i) {
        reg = static_cast<unsigned short>(reg + data[i]);
        for (int shift = 0; shift < kCrcShiftsPerByte; ++shift) {
            if (reg & kCrcTopBit) reg ^= kCrcPolynomial;
            reg = static_cast<unsigned short>(reg << 1);
        }
    }
    return static_cast<unsigned char>(reg >> 8);
}

}  // namespace ic
}  // namespace ze
