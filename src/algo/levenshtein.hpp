// Levenshtein edit distance over Unicode scalar values, and the normalised
// similarity 1 - d / max(len a, len b).
#pragma once

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
