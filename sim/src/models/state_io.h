#pragma once
// Fixed-size parts of a ModelState.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {
namespace detail {

template <std::size_t N>
std::vector<std::uint8_t> bytesOf(const std::array<std::uint8_t, N>& array)
{
    return std::vector<std::uint8_t>(array.begin(), array.end());
}

// Whether `key` holds exactly N bytes; checked for every key before any is taken.
template <std::size_t N>
bool fits(const ModelState& state, const char* key)
{
    const auto it = state.find(key);
    return it != state.end() && it->second.size() == N;
}

template <std::size_t N>
void take(const ModelState& state, const char* key, std::array<std::uint8_t, N>* array)
{
    const std::vector<std::uint8_t>& bytes = state.at(key);
    std::copy(bytes.begin(), bytes.end(), array->begin());
}

}  // namespace detail
}  // namespace sim
}  // namespace ze
