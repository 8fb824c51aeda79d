// Hamming distance and similarity over Unicode scalar values. Only texts
// with the same number of characters are comparable; byte lengths do not
// matter.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::algo {

// Number of positions whose characters differ; kUnequalLength when the
// character counts differ.
Expected<std::uint64_t, InvalidArgument> hamming_distance(std::string_view a, std::string_view b);

// 1.0 for two empty texts, otherwise 1.0 - d / n with n the common
// character count; kUnequalLength when the character counts differ.
Expected<double, InvalidArgument> hamming_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
