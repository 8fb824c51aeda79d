// Optimal string alignment distance: Levenshtein's unit-cost edits plus the
// transposition of two adjacent characters, no substring edited twice.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorn::algo {

std::size_t osa_distance(std::u32string_view a, std::u32string_view b);

}  // namespace vorn::algo
