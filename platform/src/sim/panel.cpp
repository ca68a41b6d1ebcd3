#include <ze/sim/panel.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "models/factories.h"

namespace ze {
namespace sim {
namespace {

struct ChipEntry {
    ChipType type;
    const char* name;
    Panel (*make)(Board&, const PanelConfig&);
};

const ChipEntry kChipEntries[] = {
    {ChipType::AUO, "auo", detail::makeAuoPanel},
    {ChipType::IN518, "in518", detail::makeInnoluxPanel},
    {ChipType::BOE, "boe", detail::makeBoePanel},
    {ChipType::RT6966, "rt6966", detail::makeRt6966Panel},
    {ChipType::IN525, "in525", detail::makeInnoluxPanel},
    {ChipType::KD733, "kd733", detail::makeKd733Panel},
    {ChipType::G1625, "g1625", detail::makeG1625Panel},
    {ChipType::KD532P, "kd532p", detail::makeAuoPanel},
};

const ChipEntry& entryFor(ChipType chip)
{
    for (const ChipEntry& entry : kChipEntries) {
        if (entry.type == chip) return entry;
    }
    throw std::invalid_argument("unknown chip type " + std::to_string(static_cast<int>(chip)));
}

int makeDirs(const std::string& path)
{
    for (std::string::size_type pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return -errno;
    }
    return 0;
}

}  // namespace

const char* chipName(ChipType chip)
{
    return entryFor(chip).name;
}

bool chipFromName(const std::string& name, ChipType* chip)
{
    for (const ChipEntry& entry : kChipEntries) {
        if (name == entry.name) {
            *chip = entry.type;
            return true;
        }
    }
    return false;
}

Panel installPanel(Board& board, const PanelConfig& config)
{
    bool haveBus = false;
    for (unsigned int bus : board.buses()) haveBus = haveBus || bus == config.bus;
    if (!haveBus) board.addBus(config.bus);
    if (config.i2cSwitchType == 1 && !board.gpioLevel(0)) board.addGpio(0);
    return entryFor(config.chip).make(board, config);
}

std::string vcomSection(const PanelConfig& config)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "[VCOM]\n"
                  "TypeIdx = %d\n"
                  "I2cBus = %u\n"
                  "VcomAddr = 0x%02X\n"
                  "GpioAddr = %u\n"
                  "GpioStatus = %u\n"
                  "LdmFlag = %u\n"
                  "I2cSwitchType = %u\n",
                  static_cast<int>(config.chip), config.bus, config.vcomAddr,
                  unsigned{config.gpioAddr}, config.gpioStatus, unsigned{config.ldmFlag},
                  unsigned{config.i2cSwitchType});
    return text;
}

int writeBoardIni(const std::string& root, const PanelConfig& config)
{
    const std::string dir = root + "/obdata/model/config";
    if (const int err = makeDirs(dir)) return err;
    const std::string path = dir + "/board.ini";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return -errno;
    const std::string text = vcomSection(config);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) return -EIO;
    return 0;
}

}  // namespace sim
}  // namespace ze
