// Jaro similarity, and the Winkler form of it with a boost threshold and
// a chosen prefix weight (RapidFuzz's Jaro and JaroWinkler metrics). The
// matching is jaro_winkler.hpp's; these add the other formulas.
#pragma once

#include <string_view>

namespace vorn::algo {

// 1.0 for two empty texts, 0.0 when one is empty or nothing matches,
// otherwise (m / len a + m / len b + (m - t) / m) / 3.
double jaro_similarity(std::string_view a, std::string_view b);

// jaro + prefix * prefix_weight * (1 - jaro) when jaro exceeds 0.7, with
// prefix the common prefix length in characters, at most 4; jaro itself
// otherwise.
double winkler_similarity(std::string_view a, std::string_view b, double prefix_weight);

}  // namespace vorn::algo
