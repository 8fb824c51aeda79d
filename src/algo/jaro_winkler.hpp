// Jaro-Winkler similarity over Unicode scalar values: the Jaro similarity of
// the characters of two texts, raised by a bonus for a common prefix.
#pragma once

#include <string_view>

namespace vorn::algo {

// 1.0 for identical texts, 0.0 when either is empty or nothing matches.
// Otherwise jaro + (1 - jaro) * (0.1 * prefix), with prefix the common
// prefix length in characters, at most 4, and no threshold on jaro.
double jaro_winkler_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
