#include "chips.h"

#include <cctype>

#include <ze/sim/panel.h>

namespace vcomctl {

const std::vector<ChipInfo>& supportedChips()
{
    // Named as the simulated board names them, so that --sim takes the same names.
    const auto chip = [](int typeIdx, std::uint16_t updateMax, std::uint16_t saveMax,
                         const char* updateNote, const char* saveNote) {
        return ChipInfo{typeIdx, ze::sim::chipName(static_cast<ze::sim::ChipType>(typeIdx)),
                        updateMax, saveMax, updateNote, saveNote};
    };
    static const std::vector<ChipInfo> chips = {
        chip(1, 255, 255, "8-bit setting", "8-bit setting"),
        chip(3, 255, 255, "8-bit setting", "8-bit setting"),
        chip(4, 255, 255, "8-bit value, offset into the chip's code",
             "8-bit value, offset into the chip's code"),
        chip(6, 653, 255, "10-bit code = value + 370", "the copy kept in the U-Boot environment"),
        chip(7, 255, 255, "8-bit setting", "8-bit setting"),
        chip(8, 255, 255, "8-bit offset from the chip's reference code",
             "8-bit offset from the chip's reference code"),
        chip(9, 127, 127, "7-bit setting; 128 and up would alias 0-127",
             "7-bit setting; 128 and up would alias 0-127"),
        chip(10, 255, 255, "8-bit setting", "8-bit setting"),
    };
    return chips;
}

const ChipInfo* chipByTypeIdx(int typeIdx)
{
    for (const ChipInfo& chip : supportedChips()) {
        if (chip.typeIdx == typeIdx) return &chip;
    }
    return nullptr;
}

const ChipInfo* chipByName(const std::string& name)
{
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const ChipInfo& chip : supportedChips()) {
        if (lower == chip.name) return &chip;
    }
    return nullptr;
}

std::string chipNames()
{
    std::string names;
    for (const ChipInfo& chip : supportedChips()) {
        if (!names.empty()) names += ", ";
        names += chip.name;
    }
    return names;
}

}  // namespace vcomctl
