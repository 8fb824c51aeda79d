// Levenshtein edit distance over Unicode scalar values, and the normalised
// similarity 1 - d / max(len a, len b).
#pragma once

#include <cstdint>
#include <string_view>

namespace vorn::algo {

// Unit-cost insertions, deletions and substitutions turning a into b.
std::uint64_t levenshtein_distance(std::string_view a, std::string_view b);

// 1.0 for two empty texts, otherwise 1.0 - d / m with m the larger
// character count (division first, then the subtraction).
double levenshtein_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
