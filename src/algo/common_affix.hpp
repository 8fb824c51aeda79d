// Lengths in characters of the common prefix and the common suffix of two
// texts (RapidFuzz's Prefix and Postfix similarities).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace vorn::algo {

inline std::size_t common_prefix_length(std::u32string_view a, std::u32string_view b) noexcept {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

inline std::size_t common_suffix_length(std::u32string_view a, std::u32string_view b) noexcept {
    return static_cast<std::size_t>(std::mismatch(a.rbegin(), a.rend(), b.rbegin(), b.rend()).first - a.rbegin());
}

}  // namespace vorn::algo
