#pragma once
// The KD733 as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo kd733 = {
    8,
    "kd733",
    "KD733",
    255,
    255,
    true,  // readShowsStored
    true,  // saveStoresCurrent
    "8-bit offset from the chip's reference code",
    "8-bit offset from the chip's reference code",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
