#pragma once
// The VCOM chips the driver supports: board-file TypeIdx, names and the
// values each one takes. One table for every tool, the simulated board and
// the calibration engine; the driver's own dispatch rows are checked against
// it by a test.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ze {
namespace ic {
namespace catalogue {

struct ChipInfo {
    int typeIdx;
    const char* name;         // as written on a command line: "auo"
    const char* label;        // as the driver's messages name it: "AUO"
    std::uint16_t updateMax;  // largest value an update sets without aliasing
    std::uint16_t saveMax;    // largest value a save stores
    bool readShowsStored;     // a read after a power cycle returns the saved value
    // The chip's save stores the setting it holds and ignores the value the
    // save is given: storing a value takes an update to it first.
    bool saveStoresCurrent;
    const char* updateNote;  // why the limits are what they are
    const char* saveNote;
};

// clang-format off
inline constexpr ChipInfo kChips[] = {
    {1,  "auo",    "AUO",    255, 255, true,  true,  "8-bit setting", "8-bit setting"},
    {3,  "in518",  "IN518",  255, 255, true,  false, "8-bit setting", "8-bit setting"},
    {4,  "boe",    "BOE",    255, 255, true,  true,  "8-bit value, offset into the chip's code",
                                                     "8-bit value, offset into the chip's code"},
    {6,  "rt6966", "RT6966", 653, 255, false, false, "10-bit code = value + 370",
                                                     "the copy kept in the U-Boot environment"},
    {7,  "in525",  "IN525",  255, 255, true,  false, "8-bit setting", "8-bit setting"},
    {8,  "kd733",  "KD733",  255, 255, true,  true,  "8-bit offset from the chip's reference code",
                                                     "8-bit offset from the chip's reference code"},
    {9,  "g1625",  "G1625",  127, 127, true,  false, "7-bit setting; 128 and up would alias 0-127",
                                                     "7-bit setting; 128 and up would alias 0-127"},
    {10, "kd532p", "KD532P", 255, 255, true,  true,  "8-bit setting", "8-bit setting"},
};
// clang-format on

inline constexpr std::size_t kChipCount = sizeof(kChips) / sizeof(kChips[0]);

// nullptr for a TypeIdx the driver does not support (0, 2, 5, 11, ...).
inline const ChipInfo* byTypeIdx(int typeIdx)
{
    for (const ChipInfo& chip : kChips) {
        if (chip.typeIdx == typeIdx) return &chip;
    }
    return nullptr;
}

// Case-insensitive; nullptr for a name that is no chip.
inline const ChipInfo* byName(const char* name)
{
    for (const ChipInfo& chip : kChips) {
        std::size_t i = 0;
        while (chip.name[i] != '\0' &&
               std::tolower(static_cast<unsigned char>(name[i])) == chip.name[i]) {
            ++i;
        }
        if (chip.name[i] == '\0' && name[i] == '\0') return &chip;
    }
    return nullptr;
}

}  // namespace catalogue
}  // namespace ic
}  // namespace ze
