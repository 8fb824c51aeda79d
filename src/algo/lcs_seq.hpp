// Longest common subsequence of the characters of two texts, and the Indel
// distance derived from it (insertions and deletions only: the characters
// of both texts that the subsequence leaves out).
//
// Texts are code-point sequences; callers decode UTF-8 once with
// text::decode_code_points and may then compare slices without decoding
// again (partial_ratio compares one text with many windows of another).
#pragma once

#include <cstddef>
#include <string_view>
#include <variant>

#include "algo/char_masks.hpp"

namespace vorn::algo {

// Length of a longest common subsequence (bit-parallel, Hyyro 2004).
std::size_t lcs_seq_similarity(std::u32string_view a, std::u32string_view b);

// len a + len b - 2 * lcs.
inline std::size_t indel_distance(std::u32string_view a, std::u32string_view b) {
    return a.size() + b.size() - 2 * lcs_seq_similarity(a, b);
}

// One text's character masks, built once and compared with many others;
// every result equals lcs_seq_similarity of the pair.
class CachedLcsSeq {
public:
    explicit CachedLcsSeq(std::u32string_view pattern);

    std::size_t similarity(std::u32string_view other) const;
    // The similarity with every prefix of `other` in one pass: out[k] for
    // its first k + 1 characters.
    void prefix_similarities(std::u32string_view other, std::size_t* out) const;
    // The same with `other` read from its end: out[k] for its last k + 1
    // characters reversed. With the masks of a reversed pattern that is
    // the pattern's similarity with each suffix of `other`.
    void reversed_prefix_similarities(std::u32string_view other, std::size_t* out) const;

    std::size_t length() const noexcept { return length_; }

private:
    template <class Iterator>
    void similarities_along(Iterator first, Iterator last, std::size_t* out) const;

    std::size_t length_;
    std::variant<std::monostate, WordMasks, BlockMasks> masks_;  // empty for an empty pattern
};

}  // namespace vorn::algo
