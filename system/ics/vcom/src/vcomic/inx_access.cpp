#include "VCOMICdriver.h"

namespace ze {
namespace ic {

const unsigned char crc[256] = {};

int VCOMICDriver::inx525_pass_enable() { return -1; }
int VCOMICDriver::inx525_pass_disable() { return -1; }
int VCOMICDriver::inx525_unlock() { return -1; }
int VCOMICDriver::inx525_check() { return -1; }
void VCOMICDriver::inx525_pass_through() {}
unsigned char VCOMICDriver::inx525_calc_crc(unsigned short seed, unsigned char*, unsigned char) { return seed >> 8; }
int VCOMICDriver::inx525_calc_vcom(unsigned char*, unsigned char) { return -1; }

}  // namespace ic
}  // namespace ze
