#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_G1625_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_G1625_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_G1625_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
