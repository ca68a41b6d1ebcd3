// AUO: the AUO family member that answers only while its access gate GPIO is
// held at gpioStatus.

#include "../chip_ops.h"
#include "../steps.h"
#include "auo_chip.h"
#include "auo_family.h"

namespace ze {
namespace ic {
namespace {

using namespace steps;
using namespace auo_family;

constexpr useconds_t kReadSettleUs = 80000;   // before a read
constexpr useconds_t kUpdateSettleUs = 5000;  // before an update
constexpr useconds_t kNoLeadUs = 0;           // a save starts at once
constexpr useconds_t kGateSetupUs = 5000;     // gate open to transfer
constexpr useconds_t kGateHoldUs = 60000;     // transfer to gate close

// A gate that fails to open is only reported: the chip may still answer. A
// failed transfer leaves the gate open; a gate that will not close fails the
// operation even though the chip took the transfer.
constexpr Step openGate(useconds_t leadUs)
{
    return gateOpen(leadUs, "[DR_VCOM]setGpio low fail.\n", OnFail::Continue);
}
constexpr Step kCloseGate = gateClose(kGateHoldUs, "[DR_VCOM]setGpio High fail.\n", OnFail::Stop);

const Step kRead[] = {openGate(kReadSettleUs), readSetting(kGateSetupUs), kSettingRead, kCloseGate};
const Step kUpdate[] = {openGate(kUpdateSettleUs), writeSetting(kGateSetupUs), kSettingWritten,
                        kCloseGate};
const Step kSave[] = {openGate(kNoLeadUs), commandSave(kGateSetupUs), kSaved, kCloseGate};

}  // namespace

int VCOMICDriver::IC_AUO_Read(unsigned short* value)
{
    return run(*this, sequence(kRead), value, VCOM_SITE);
}

int VCOMICDriver::IC_AUO_Updata(unsigned short* value)
{
    return run(*this, sequence(kUpdate), value, VCOM_SITE);
}

int VCOMICDriver::IC_AUO_Save(unsigned short* value)
{
    return run(*this, sequence(kSave), value, VCOM_SITE);
}

namespace {

ZE_VCOM_CHIP(kChip) = {
    catalogue::chip::auo.typeIdx,           &VCOMICDriver::IC_AUO_Read,
    &VCOMICDriver::IC_AUO_Updata,           &VCOMICDriver::IC_AUO_Save,
    "[DR_VCOM]VCOM AUO read success .\n",   "[DR_VCOM]VCOM AUO read fail .\n",
    "[DR_VCOM]VCOM AUO Update success .\n", "[DR_VCOM]VCOM AUO Update fail .\n",
    "[DR_VCOM]VCOM AUO save success .\n",   "[DR_VCOM]VCOM AUO save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
