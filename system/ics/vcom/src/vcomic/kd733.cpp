#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_KD733_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_KD733_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_KD733_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
