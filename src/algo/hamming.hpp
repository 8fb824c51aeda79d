// Hamming distance and similarity over Unicode scalar values. Only texts
// with the same number of characters are comparable; byte lengths do not
// matter.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorn::algo {

// Number of positions whose characters differ; no value when the
// character counts differ.
std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b);

// 1.0 for two empty texts, otherwise 1.0 - d / n with n the common
// character count; no value when the character counts differ.
std::optional<double> hamming_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
