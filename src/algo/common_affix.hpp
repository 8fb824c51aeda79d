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

// Two texts without their common prefix and then their common suffix, and
// the prefix's length.
struct TrimmedPair {
    std::u32string_view a, b;
    std::size_t prefix;
};

inline TrimmedPair trim_common_affixes(std::u32string_view a, std::u32string_view b) noexcept {
    const std::size_t prefix = common_prefix_length(a, b);
    a.remove_prefix(prefix);
    b.remove_prefix(prefix);
    const std::size_t suffix = common_suffix_length(a, b);
    a.remove_suffix(suffix);
    b.remove_suffix(suffix);
    return {a, b, prefix};
}

}  // namespace vorn::algo
