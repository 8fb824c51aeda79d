// Levenshtein edit distance over Unicode scalar values, and the normalised
// similarity 1 - d / max(len a, len b).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "algo/char_masks.hpp"

namespace vorn::algo {

// Unit-cost insertions, deletions and substitutions turning a into b.
std::uint64_t levenshtein_distance(std::string_view a, std::string_view b);

// 1.0 for two empty texts, otherwise 1.0 - d / m with m the larger
// character count (division first, then the subtraction).
double levenshtein_similarity(std::string_view a, std::string_view b);

// The Levenshtein distance of two character sequences when it is at most
// max_distance (at most kSmallDistance), else max_distance + 1. Tries each
// pattern of max_distance edits at the mismatches (Hyyro-style bounds
// would scan the whole text): texts that differ early are ruled out after
// a few characters, which is what a search with a high bar sees most.
inline constexpr std::uint64_t kSmallDistance = 3;

namespace detail {
// Edit patterns as 2-bit operations, first in the low bits: 1 skips a
// character of the longer text, 2 of the shorter, 3 of both (substitution).
// patterns[k][gap]: every sequence of k operations that skips `gap` more
// characters of the longer text; shorter ones are covered by them.
struct EditPatterns {
    std::uint8_t codes[kSmallDistance + 1][kSmallDistance + 1][27];
    std::uint8_t counts[kSmallDistance + 1][kSmallDistance + 1];
};
const EditPatterns& edit_patterns() noexcept;
}  // namespace detail

template <class A, class B>
std::uint64_t small_levenshtein_distance(const A* a, std::size_t la, const B* b, std::size_t lb,
                                         std::uint64_t max_distance) noexcept {
    if (la < lb) return small_levenshtein_distance(b, lb, a, la, max_distance);
    // Common ends never change the distance.
    while (lb > 0 && a[0] == b[0]) ++a, ++b, --la, --lb;
    while (lb > 0 && a[la - 1] == b[lb - 1]) --la, --lb;
    const std::size_t gap = la - lb;
    if (lb == 0 || gap > max_distance) return std::min<std::uint64_t>(la, max_distance + 1);
    const auto& patterns = detail::edit_patterns();
    std::uint64_t best = max_distance + 1;
    for (std::uint8_t p = 0; p < patterns.counts[max_distance][gap]; ++p) {
        unsigned ops = patterns.codes[max_distance][gap][p];
        std::size_t i = 0, j = 0;
        std::uint64_t cost = 0;
        bool failed = false;
        while (i < la && j < lb) {
            if (a[i] == b[j]) {
                ++i, ++j;
                continue;
            }
            if (ops == 0) {
                failed = true;
                break;
            }
            ++cost;
            i += (ops & 3) != 2;
            j += (ops & 3) != 1;
            ops >>= 2;
        }
        if (failed) continue;
        cost += (la - i) + (lb - j);
        best = std::min(best, cost);
    }
    return best;
}

// Edit costs; the unit costs give levenshtein_distance.
struct LevenshteinWeights {
    std::uint64_t insertion = 1;
    std::uint64_t deletion = 1;
    std::uint64_t substitution = 1;
};

// The cheapest edits turning a into b with these costs (an insertion adds
// a character of b, a deletion removes one of a).
std::uint64_t levenshtein_weighted_distance(std::string_view a, std::string_view b, const LevenshteinWeights& weights);

// The largest possible weighted distance between texts of these lengths:
// deleting all of a and inserting all of b, or substituting the shorter
// length and inserting or deleting the rest, whichever costs less.
std::uint64_t levenshtein_maximum(std::size_t length_a, std::size_t length_b, const LevenshteinWeights& weights);

// One text's character masks, built once and compared with many others
// (cached pattern); every result equals the free functions' for the pair.
class CachedLevenshtein {
public:
    explicit CachedLevenshtein(std::string_view pattern);

    std::uint64_t distance(std::string_view other) const;

    // Exact when the distance is at most max_distance; otherwise
    // max_distance + 1 (saturating). A smaller bound narrows the work.
    std::uint64_t distance(std::string_view other, std::uint64_t max_distance) const;

    double similarity(std::string_view other) const;

    // The pattern's length in characters.
    std::size_t length() const noexcept { return length_; }

private:
    friend std::uint64_t levenshtein_distance(std::string_view a, std::string_view b);
    CachedLevenshtein(std::string_view pattern, std::size_t length, bool ascii);
    std::uint64_t distance_to(std::string_view other, std::size_t other_length, bool other_ascii,
                              std::uint64_t max_distance) const;

    std::size_t length_;
    std::variant<std::monostate, WordMasks, BlockMasks> masks_;  // empty for an empty pattern
};

}  // namespace vorn::algo
