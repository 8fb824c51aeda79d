// Jaro-Winkler similarity over Unicode scalar values: the Jaro similarity of
// the characters of two texts, raised by a bonus for a common prefix.
#pragma once

#include <cstddef>
#include <string_view>
#include <variant>

#include "algo/char_masks.hpp"

namespace vorn::algo {

// 1.0 for identical texts, 0.0 when either is empty or nothing matches.
// Otherwise jaro + (1 - jaro) * (0.1 * prefix), with prefix the common
// prefix length in characters, at most 4, and no threshold on jaro.
double jaro_winkler_similarity(std::string_view a, std::string_view b);

// Jaro's matching of two texts: each character of a takes the earliest
// unmatched equal character of b within the window (half the longer
// length, minus one); transpositions are half the matched pairs that
// differ, rounded down.
struct JaroMatching {
    std::size_t matches = 0;
    std::size_t transpositions = 0;
};
JaroMatching jaro_matching(std::string_view a, std::string_view b);

// One text's character masks, built once and compared with many others
// (cached pattern). similarity(other) equals jaro_winkler_similarity of the
// pair in either order.
class CachedJaroWinkler {
public:
    explicit CachedJaroWinkler(std::string_view pattern);

    double similarity(std::string_view other) const;

private:
    friend double jaro_winkler_similarity(std::string_view a, std::string_view b);
    // With `only_with`, the masks serve the comparison with that text only;
    // `only_with_ascii` says whether it is ASCII.
    CachedJaroWinkler(std::string_view pattern, bool ascii, const std::string_view* only_with, bool only_with_ascii);
    double similarity_to(std::string_view other, bool other_ascii) const;
    friend JaroMatching jaro_matching(std::string_view a, std::string_view b);
    // `na` is other's length in characters.
    JaroMatching matching_to(std::string_view other, bool other_ascii, std::size_t na) const;

    std::size_t length_;  // in characters
    char32_t prefix_[4];  // the pattern's first characters
    // Empty for an empty pattern; the register-compared masks serve one
    // comparison only.
    std::variant<std::monostate, WordMasks, BlockMasks
#if defined(__SSE2__)
                 ,
                 AsciiWordMasks<1>, AsciiWordMasks<2>, AsciiWordMasks<3>, AsciiWordMasks<4>, BmpWordMasks<2>,
                 BmpWordMasks<4>, BmpWordMasks<6>, BmpWordMasks<8>
#endif
                 >
        masks_;
};

}  // namespace vorn::algo
