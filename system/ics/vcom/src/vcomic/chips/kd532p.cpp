// KD532P: the AUO family member without a gate, which needs longer to
// program its memory.

#include "../chip_ops.h"
#include "../steps.h"
#include "auo_family.h"
#include "kd532p_chip.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;
using namespace auo_family;

constexpr useconds_t kReadSettleUs = 80000;
constexpr useconds_t kWriteSettleUs = 5000;    // before an update or a save
constexpr useconds_t kSaveProgramUs = 500000;  // MTP programming after a save

const Step kRead[] = {readSetting(kReadSettleUs), kSettingRead};
const Step kUpdate[] = {writeSetting(kWriteSettleUs), kSettingWritten};
const Step kSave[] = {commandSave(kWriteSettleUs), kSaved, wait(kSaveProgramUs)};

}  // namespace

int VCOMICDriver::IC_KD532P_Read(unsigned short* value)
{
    return run(*this, sequence(kRead), value, VCOM_SITE);
}

int VCOMICDriver::IC_KD532P_Updata(unsigned short* value)
{
    return run(*this, sequence(kUpdate), value, VCOM_SITE);
}

int VCOMICDriver::IC_KD532P_Save(unsigned short* value)
{
    return run(*this, sequence(kSave), value, VCOM_SITE);
}

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::kd532p.typeIdx,
    &VCOMICDriver::IC_KD532P_Read,
    &VCOMICDriver::IC_KD532P_Updata,
    &VCOMICDriver::IC_KD532P_Save,
    "[DR_VCOM]VCOM IC_KD532P read success .\n",
    "[DR_VCOM]VCOM IC_KD532P read fail .\n",
    "[DR_VCOM]VCOM KD532P Update success .\n",
    "[DR_VCOM]VCOM KD532P Update fail .\n",
    "[DR_VCOM] KD532P save success .\n",
    "[DR_VCOM] KD532P save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
