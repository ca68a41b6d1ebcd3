#pragma once
// The VCOM chips the driver supports: board-file TypeIdx, names and the
// values each one takes. One table for every tool, the simulated board and
// the calibration engine, gathered by the build from each chip's own header
// (chip_list.h); the driver's dispatch is checked against it by a test.

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <ze/ic/chip_info.h>
#include <ze/ic/chip_list.h>

namespace ze {
namespace ic {
namespace catalogue {

namespace detail {

// The chips in TypeIdx order, whatever order the build listed them in.
template <std::size_t N>
constexpr std::array<ChipInfo, N> inTypeIdxOrder(const ChipInfo (&listed)[N])
{
    std::array<ChipInfo, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        std::size_t j = i;
        for (; j > 0 && out[j - 1].typeIdx > listed[i].typeIdx; --j) out[j] = out[j - 1];
        out[j] = listed[i];
    }
    return out;
}

template <std::size_t N>
constexpr bool distinctTypeIdx(const std::array<ChipInfo, N>& chips)
{
    for (std::size_t i = 1; i < N; ++i) {
        if (chips[i - 1].typeIdx == chips[i].typeIdx) return false;
    }
    return true;
}

}  // namespace detail

inline constexpr auto kChips = detail::inTypeIdxOrder(listed::kChips);
static_assert(detail::distinctTypeIdx(kChips), "two chips claim one TypeIdx");

inline constexpr std::size_t kChipCount = kChips.size();

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
