#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_INX_IN518_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_INX_IN518_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_INX_IN518_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
