#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_RT6966_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_RT6966_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_RT6966_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
