#pragma once
// What vcomctl needs from the platform and the simulator before they offer it
// themselves. Each function names the interface it stands in for; when that
// lands, its body becomes a call to it and the rest of the tool is unchanged.

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <ze/platform/trace.h>

#ifdef VCOMCTL_WITH_SIM
#include <ze/sim/board.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/panel.h>
#endif

namespace vcomctl {
namespace compat {

// TraceEntry's absolute monotonic time. The tool sets the recorder's clock to
// CLOCK_MONOTONIC, so the entry's own time is already absolute.
inline std::uint64_t monotonicUs(const ze::platform::TraceEntry& entry)
{
    return entry.timeUs;
}

// The transfer as the kernel saw it ("I2C_RDWR", "SMBus byte data", ...), or
// nullptr while the record does not tell it.
inline const char* transactionKind(const ze::platform::TraceEntry&)
{
    return nullptr;
}

#ifdef VCOMCTL_WITH_SIM
// Stand-in for ze::sim::savePanelState/loadPanelState: the panel's state is
// the replay of every call that reached the board, kept as a journal. Calls
// that failed never reached a device and are left out.
inline int appendPanelState(const std::vector<ze::platform::TraceEntry>& entries,
                            const std::string& file)
{
    std::ofstream out(file, std::ios::app);
    for (const ze::platform::TraceEntry& e : entries) {
        if (e.status != 0) continue;
        out << static_cast<int>(e.call) << ' ' << e.bus << ' ' << unsigned{e.devAddr} << ' '
            << unsigned{e.subAddrLen} << ' ' << unsigned{e.subAddr} << ' ' << e.value << ' '
            << e.data.size();
        for (std::uint8_t byte : e.data) out << ' ' << unsigned{byte};
        out << '\n';
    }
    out.flush();
    return out ? 0 : -EIO;
}

inline int loadPanelState(ze::sim::Board& board, const std::string& file)
{
    std::ifstream in(file);
    if (!in) return 0;  // nothing reached the panel yet
    using ze::platform::Call;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        int call = 0;
        unsigned int bus = 0, dev = 0, subLen = 0, sub = 0;
        int value = 0;
        std::size_t count = 0;
        if (!(fields >> call >> bus >> dev >> subLen >> sub >> value >> count)) return -EINVAL;
        std::vector<unsigned char> data(count);
        for (unsigned char& byte : data) {
            unsigned int number = 0;
            if (!(fields >> number)) return -EINVAL;
            byte = static_cast<unsigned char>(number);
        }
        I2cTarget target{};
        target.devAddr = static_cast<unsigned char>(dev);
        target.subAddrLen = static_cast<unsigned char>(subLen);
        target.subAddr = static_cast<unsigned char>(sub);
        switch (static_cast<Call>(call)) {
            case Call::I2COpen:
                board.i2cOpen(bus, static_cast<unsigned int>(value));
                break;
            case Call::I2CWrite:
                board.i2cWrite(bus, target, data.data(), static_cast<unsigned int>(count));
                break;
            case Call::I2CRead:
                board.i2cRead(bus, target, static_cast<unsigned int>(count), data.data());
                break;
            case Call::GpioSetValue:
                board.gpioSetValue(bus, static_cast<unsigned int>(value));
                break;
            case Call::DisplaySetFreerunVfreq:
                board.displaySetFreerunVfreq(value);
                break;
            case Call::DisplayGetFreerunVfreq:
                break;
        }
    }
    return 0;
}

// Stand-in for the simulator's way to force an Innolux chip's status byte.
inline bool forceInnoluxStatus(const ze::sim::Panel& panel, std::uint8_t status)
{
    constexpr std::size_t kAnswers = 4096;  // more status reads than any run makes
    auto* chip = dynamic_cast<ze::sim::InnoluxChip*>(panel.chip.get());
    if (chip == nullptr) return false;
    chip->scriptStatus(std::vector<std::uint8_t>(kAnswers, status));
    return true;
}
#endif

}  // namespace compat
}  // namespace vcomctl
