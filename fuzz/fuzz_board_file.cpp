// The board file through the driver's parse, then update, read and save on a
// simulated board wired as the file says, or with no chip at all.

#include <stdexcept>

#include <ze/ic/chip_catalogue.h>
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
bool wiredSanely(const ze::sim::ChipModel& model, const ze::ic::VCOMICDriver& driver)
{
    const bool gateOnSwitch =
        model.gated && driver.i2cSwitchType == 1 && driver.gpioAddr == kSwitchGpio;
    return driver.vcomAddr % 2 == 0 && !gateOnSwitch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    ze::fuzz::writeFile(ze::fuzz::platformRoot() + "/obdata/model/config/board.ini", data, size);
    auto board = std::make_shared<ze::sim::Board>();
    board->setClock(ze::test::nowUs);
    ze::platform::setSocBackend(board);

    ze::ic::VCOMICDriver driver(kDriverId, nullptr);
    driver.Get_Vcom_DataSeparation();
    FUZZ_EXPECT(driver.configLoaded == 1);
    const ChipInfo* chip = ze::ic::catalogue::byTypeIdx(driver.typeIdx);
    const ze::sim::ChipModel* model = ze::sim::chipModel(driver.typeIdx);
    FUZZ_EXPECT((chip == nullptr) == (model == nullptr));
    const unsigned int h = hash(data, size);
    bool fitted = false;
    if (chip != nullptr && h % 4 != 0) {  // one input in four: the chip is missing
        ze::platform::VcomBoardConfig config;
        config.typeIdx = driver.typeIdx;
        config.i2cBus = driver.i2cBus;
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
        FUZZ_EXPECT(updated != 0 && read == 0 && (!model->keepsSave || saved != 0));
    } else if (wiredSanely(*model, driver)) {
        FUZZ_EXPECT(updated == 0 && read == value && saved == 0);
    }
    ze::platform::setSocBackend(nullptr);
    return 0;
}
