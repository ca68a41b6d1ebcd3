#include <ze/sim/models/auo.h>

#include "install.h"

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

void AuoChip::dump(ModelFields& fields) const
{
    fields.hex("setting", setting()).hex("nvm", nvm()).count("saves", saveCount());
}

namespace {

// The gate line rests at the level opposite to the access level.
void installGated(Board& board, const VcomBoardConfig& config, Panel& panel)
{
    auto chip = std::make_shared<AuoChip>(AuoChip::kAuoProgramUs);
    attachChip(board, config, panel, chip);
    const unsigned int gate = config.gpioAddr;
    if (!board.gpioLevel(gate)) board.addGpio(gate, config.gpioStatus == 0 ? 1 : 0);
    chip->useGate(config.gpioStatus, *board.gpioLevel(gate));
    std::weak_ptr<AuoChip> weak = chip;
    board.onGpioChange([weak, gate](unsigned int gpio, unsigned int level) {
        if (gpio != gate) return;
        if (const std::shared_ptr<AuoChip> model = weak.lock()) model->setGateLevel(level);
    });
}

// The KD532P is the AUO's register map without the gate, programming longer.
void installKd532p(Board& board, const VcomBoardConfig& config, Panel& panel)
{
    attachChip(board, config, panel, std::make_shared<AuoChip>(AuoChip::kKd532pProgramUs));
}

const ChipModelRegistration kAuo({"auo", installGated, true, true, kByteCodeMax, 0});
const ChipModelRegistration kKd532p({"kd532p", installKd532p, false, true, kByteCodeMax, 0});

}  // namespace

}  // namespace sim
}  // namespace ze
