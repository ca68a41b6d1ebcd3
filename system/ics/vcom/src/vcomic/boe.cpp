#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_BOE_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_BOE_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_BOE_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
