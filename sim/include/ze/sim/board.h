#pragma once
// The simulated board: I2C buses with device models, GPIO lines, the I2C
// switch and the display's free-run setting. Fails calls on request, keeps a
// trace of SoC calls when asked to, and a list of the models' refusals.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ze/platform/soc_backend.h>
#include <ze/sim/device.h>
#include <ze/sim/export.h>

namespace ze {
namespace sim {

// The trace's names, as the simulated board's users know them.
using ze::platform::Call;
using ze::platform::callName;
using ze::platform::formatTraceEntry;
using ze::platform::TraceEntry;

// An access a part or the board's wiring refused: the driver did something
// the hardware would not take (a write while programming, a chip cut off by
// its switch or gate, a block never read back, an address nobody answers).
// Injected faults and silenced devices are not refusals.
struct Refusal {
    std::uint64_t timeUs = 0;
    unsigned int bus = 0;
    std::uint8_t devAddr = 0;  // 8-bit form, even
    int status = 0;
    const char* reason = "";
};
// "61000us bus=1 dev=0xE8 status=-6: programming NVM"
ZE_SIM_EXPORT std::string formatRefusal(const Refusal& refusal);

// Thread-safe. Device models run with the board locked and must not call
// back into the board; GPIO listeners run unlocked and may.
class ZE_SIM_EXPORT Board : public ze::platform::SocBackend {
public:
    // A board without buses, GPIO lines or devices; free-run setting 0; on the
    // default clock (see setDefaultClock). Its trace is off until
    // setTraceEnabled(true).
    Board();
    ~Board() override;

    // The time the parts' busy windows and the trace run on; it must not go back.
    void useClock(Clock clock);

    // Wiring.
    void addBus(unsigned int bus);
    // Attaches a device at an 8-bit address. The device answers both forms of
    // its 7-bit address (addr8 & ~1 and addr8 | 1), as on a real bus.
    // Throws std::invalid_argument when the bus is missing or the address taken.
    void attach(unsigned int bus, std::uint8_t addr8, std::shared_ptr<I2cDevice> device);
    void detach(unsigned int bus, std::uint8_t addr8);
    // The device reaches the bus through an I2C switch that a GPIO line
    // controls: cut off (address NACK) while the line is at level 0.
    // Throws std::invalid_argument when no device or line is there.
    void putBehindSwitch(unsigned int bus, std::uint8_t addr8, unsigned int gpio);
    void addGpio(unsigned int gpio, unsigned int initialLevel = 0);
    // The level last set on the line (as given, not reduced to 0/1); nullopt
    // for a line the board lacks.
    std::optional<unsigned int> gpioLevel(unsigned int gpio) const;
    // Runs whenever a GPIO line is set successfully.
    void onGpioChange(std::function<void(unsigned int gpio, unsigned int level)> listener);
    int freerunVfreq() const;
    void setFreerunVfreq(int setting);
    // Power-cycles every attached device.
    void powerCycle();

    // Fault injection. A failing call is not passed to the device and is
    // traced with the chosen status. Faults are checked before anything else.
    // The nth call of `call` from now on (1 = the next one) fails with `status`,
    // once. Every call of that kind counts, whatever its outcome.
    // Throws std::invalid_argument for n = 0.
    void failNth(Call call, unsigned int n, int status);
    // Every I2C transfer (write or read) to exactly this 8-bit address, and
    // to this sub-address when one is given (only transfers whose target
    // carries a sub-address match then), fails with `status` until cleared.
    void failMatching(std::uint8_t devAddr, std::optional<std::uint8_t> subAddr, int status);
    void clearFaults();
    // A device that stops answering (both address forms NACK, kAddressNack)
    // until it is made to answer again; its state is kept.
    void setAnswering(unsigned int bus, std::uint8_t addr8, bool answering);

    // Refusals are always counted; listed only while reporting is on.
    void reportRefusals(bool on);
    unsigned int refusalCount() const;
    std::vector<Refusal> refusals() const;
    void clearRefusals();

    // SocBackend
    const char* name() const override { return "sim"; }
    std::vector<unsigned int> buses() const override;
    int i2cOpen(unsigned int bus, unsigned int mode) override;
    int i2cWrite(unsigned int bus, const I2cTarget& target, const unsigned char* data,
                 unsigned int length) override;
    int i2cRead(unsigned int bus, const I2cTarget& target, unsigned int length,
                unsigned char* buffer) override;
    int gpioSetValue(unsigned int gpio, unsigned int level) override;
    int displayGetFreerunVfreq(int* setting) override;
    int displaySetFreerunVfreq(int setting) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The board used when nothing else is chosen: I2C buses 0 to 3 (no devices),
// GPIO lines 0 to 255 (level 0), free-run setting 0.
constexpr unsigned int kDefaultBoardBuses = 4;
constexpr unsigned int kDefaultBoardGpios = 256;
ZE_SIM_EXPORT std::shared_ptr<Board> makeDefaultBoard();
// Adds the default board's buses and lines to a board.
ZE_SIM_EXPORT void wireAsDefaultBoard(Board& board);

}  // namespace sim
}  // namespace ze
