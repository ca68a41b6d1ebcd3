// The board file through the driver's parse, then update, read and save on a
// simulated board wired as the file says, or with no chip at all.

#include <stdexcept>

#include <ze/ic/chip_catalogue.h>
#include <ze/platform/env_setup.h>
#include <ze/sim/panel.h>
#include <ze/test/virtual_clock.h>

#include "fuzz_support.h"
#include "vcomic/VCOMICdriver.h"

namespace {

using ze::ic::catalogue::ChipInfo;

constexpr unsigned int kDriverId = 7;
constexpr unsigned int kSwitchGpio = 0;
constexpr unsigned int kFnvOffset = 2166136261u;
constexpr unsigned int kFnvPrime = 16777619u;

unsigned int hash(const std::uint8_t* data, std::size_t size)
{
    unsigned int h = kFnvOffset;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * kFnvPrime;
    return h;
}

// A chip the board file names, wired as a real board would be: even 8-bit
// address (the read form is the next one), the AUO gate not on the switch's
// line. Other wirings are legal input but not expected to work.
bool wiredSanely(const ChipInfo& chip, const ze::ic::VCOMICDriver& driver)
{
    const bool gateOnSwitch = chip.typeIdx == static_cast<int>(ze::sim::ChipType::AUO) &&
                              driver.i2cSwitchType == 1 && driver.gpioAddr == kSwitchGpio;
    return driver.vcomAddr % 2 == 0 && !gateOnSwitch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    static const int store = ze::platform::createEnvStore(ze::fuzz::platformRoot());
    FUZZ_EXPECT(store == 0);
    ze::fuzz::writeFile(ze::fuzz::platformRoot() + "/obdata/model/config/board.ini", data, size);
    auto board = std::make_shared<ze::sim::Board>();
    board->setClock(ze::test::nowUs);
    ze::platform::setSocBackend(board);

    ze::ic::VCOMICDriver driver(kDriverId, nullptr);
    driver.Get_Vcom_DataSeparation();
    FUZZ_EXPECT(driver.configLoaded == 1);
    const ChipInfo* chip = ze::ic::catalogue::byTypeIdx(driver.typeIdx);
    const unsigned int h = hash(data, size);
    bool fitted = false;
    if (chip != nullptr && h % 4 != 0) {  // one input in four: the chip is missing
        ze::sim::PanelConfig config;
        config.chip = static_cast<ze::sim::ChipType>(driver.typeIdx);
        config.bus = driver.i2cBus;
        config.vcomAddr = driver.vcomAddr;
        config.gpioAddr = driver.gpioAddr;
        config.gpioStatus = driver.gpioStatus;
        config.ldmFlag = driver.ldmFlag;
        config.i2cSwitchType = driver.i2cSwitchType;
        try {
            ze::sim::installPanel(*board, config);
            fitted = true;
        } catch (const std::invalid_argument&) {
            // the address is the Innolux bridge's
        }
    }

    const unsigned short value =
        chip != nullptr ? static_cast<unsigned short>((h >> 2) % (chip->saveMax + 1u)) : 0;
    const int updated = driver.u1DrvUpdataVcom(value);
    const unsigned short read = driver.u1DrvReadVcom();
    const int saved = driver.u1DrvSaveVcom(value);
    if (chip == nullptr) {
        FUZZ_EXPECT(updated == -1 && saved == -1 && read == 0);
    } else if (!fitted) {
        const bool savesToEnv = chip->typeIdx == static_cast<int>(ze::sim::ChipType::RT6966);
        FUZZ_EXPECT(updated != 0 && read == 0 && (savesToEnv || saved != 0));
    } else if (wiredSanely(*chip, driver)) {
        FUZZ_EXPECT(updated == 0 && read == value && saved == 0);
    }
    ze::platform::setSocBackend(nullptr);
    return 0;
}
