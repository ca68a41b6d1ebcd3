#pragma once
// The BOE as the catalogue lists it; its driver takes the TypeIdx from here.

#include <ze/ic/chip_info.h>

namespace ze {
namespace ic {
namespace catalogue {
namespace chip {

inline constexpr ChipInfo boe = {
    4,
    "boe",
    "BOE",
    255,
    255,
    true,  // readShowsStored
    true,  // saveStoresCurrent
    "8-bit value, offset into the chip's code",
    "8-bit value, offset into the chip's code",
};

}  // namespace chip
}  // namespace catalogue
}  // namespace ic
}  // namespace ze
