#include "chips.h"

#include <cctype>

namespace vcomctl {

const std::vector<ChipInfo>& supportedChips()
{
    static const std::vector<ChipInfo> chips = {
        {1, "auo", 255, 255, "8-bit setting", "8-bit setting"},
        {3, "in518", 255, 255, "8-bit setting", "8-bit setting"},
        {4, "boe", 255, 255, "8-bit value, offset into the chip's code",
         "8-bit value, offset into the chip's code"},
        {6, "rt6966", 653, 255, "10-bit code = value + 370",
         "the copy kept in the U-Boot environment"},
        {7, "in525", 255, 255, "8-bit setting", "8-bit setting"},
        {8, "kd733", 255, 255, "8-bit offset from the chip's reference code",
         "8-bit offset from the chip's reference code"},
        {9, "g1625", 127, 127, "7-bit setting; 128 and up would alias 0-127",
         "7-bit setting; 128 and up would alias 0-127"},
        {10, "kd532p", 255, 255, "8-bit setting", "8-bit setting"},
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
