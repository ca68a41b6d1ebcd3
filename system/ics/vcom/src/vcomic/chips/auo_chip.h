#pragma once
// The AUO as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo auo = {
    1,
    "auo",
    "AUO",
    255,
    255,
    true,  // readShowsStored
    true,  // saveStoresCurrent
    "8-bit setting",
    "8-bit setting",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
