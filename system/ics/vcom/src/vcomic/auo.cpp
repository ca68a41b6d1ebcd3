#include "VCOMICdriver.h"

namespace ze {
namespace ic {

int VCOMICDriver::IC_AUO_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_AUO_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_AUO_Save(unsigned short*) { return -1; }
int VCOMICDriver::IC_KD532P_Read(unsigned short*) { return -1; }
int VCOMICDriver::IC_KD532P_Updata(unsigned short*) { return -1; }
int VCOMICDriver::IC_KD532P_Save(unsigned short*) { return -1; }

}  // namespace ic
}  // namespace ze
