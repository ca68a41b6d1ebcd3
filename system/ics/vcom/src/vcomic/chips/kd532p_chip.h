#pragma once
// The KD532P as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo kd532p = {
    10,
    "kd532p",
    "KD532P",
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
