#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_INX_IN525_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_INX_IN525_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_INX_IN525_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
