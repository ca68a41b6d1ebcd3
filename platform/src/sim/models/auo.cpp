#include <ze/sim/models/auo.h>

namespace ze {
namespace sim {

AuoChip::AuoChip(std::uint64_t programUs) : RegisterChip(kRegSetting, 1), programUs_(programUs)
{
    setSetting(kFactorySetting);
    setNvm(kFactorySetting);
}

void AuoChip::useGate(std::uint32_t accessLevel, unsigned int lineLevel)
{
    gated_ = true;
    accessHigh_ = accessLevel != 0;
    lineHigh_ = lineLevel != 0;
}

void AuoChip::setGateLevel(unsigned int lineLevel)
{
    const bool wasOpen = accessible();
    lineHigh_ = lineLevel != 0;
    if (!gated_ || wasOpen == accessible()) return;
    if (accessible()) {
        startBusy(kGateSettleUs, "access gate settling");
    } else if (programming_ && busy()) {
        abortProgramming();
        refuse(kDataNack, "access gate closed while programming NVM");
    }
}

bool AuoChip::accessible() const
{
    return !gated_ || lineHigh_ == accessHigh_;
}

int AuoChip::checkWrite(std::uint8_t first, const std::uint8_t*, std::size_t)
{
    if (!accessible()) return refuse(kAddressNack, "access gate closed");
    if (first != kRegCommand && first != kRegSetting) return refuse(kDataNack, "no such register");
    return 0;
}

int AuoChip::store(std::uint8_t address, std::uint8_t value)
{
    if (address == kRegSetting) return RegisterChip::store(address, value);
    if (address != kRegCommand) return refuse(kDataNack, "no such register");
    if (value != kCommandSave) return refuse(kDataNack, "unknown command");
    nvmBefore_ = nvm();
    programNvm();
    programming_ = true;
    ++saves_;
    startBusy(programUs_, "programming NVM");
    return 0;
}

int AuoChip::load(std::uint8_t address, std::uint8_t* value)
{
    if (!accessible()) return refuse(kAddressNack, "access gate closed");
    if (address != kRegSetting) return refuse(kDataNack, "register not readable");
    return RegisterChip::load(address, value);
}

void AuoChip::abortProgramming()
{
    setNvm(nvmBefore_);
    programming_ = false;
}

void AuoChip::powerCycle()
{
    if (programming_ && busy()) abortProgramming();
    RegisterChip::powerCycle();
}

}  // namespace sim
}  // namespace ze
