// Damerau-Levenshtein distance (unrestricted): unit-cost insertions,
// deletions, substitutions and transpositions of adjacent characters, where
// characters may be edited again after a transposition.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorn::algo {

std::size_t damerau_levenshtein_distance(std::u32string_view a, std::u32string_view b);

}  // namespace vorn::algo
