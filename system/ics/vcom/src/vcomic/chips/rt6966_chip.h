#pragma once
// The RT6966 as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo rt6966 = {
    6,
    "rt6966",
    "RT6966",
    653,
    255,
    false,  // readShowsStored
    false,  // saveStoresCurrent
    "10-bit code = value + 370",
    "the copy kept in the U-Boot environment",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
