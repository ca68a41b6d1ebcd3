#pragma once
// The IN525 as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo in525 = {
    7,
    "in525",
    "IN525",
    255,
    255,
    true,   // readShowsStored
    false,  // saveStoresCurrent
    "8-bit setting",
    "8-bit setting",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
