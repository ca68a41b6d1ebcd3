#pragma once
// The G1625 as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo g1625 = {
    9,
    "g1625",
    "G1625",
    127,
    127,
    true,   // readShowsStored
    false,  // saveStoresCurrent
    "7-bit setting; 128 and up would alias 0-127",
    "7-bit setting; 128 and up would alias 0-127",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
