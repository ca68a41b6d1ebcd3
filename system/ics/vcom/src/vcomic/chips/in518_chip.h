#pragma once
// The IN518 as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo in518 = {
    3,
    "in518",
    "IN518",
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
