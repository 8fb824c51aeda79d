// Jaccard similarity, |A ∩ B| / |A ∪ B|, over sets of character n-grams or
// of words. Characters are Unicode scalar values; words are maximal runs of
// non-whitespace (the White_Space property) compared byte for byte.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::algo {

// Over the distinct n-character windows of each text. Identical texts
// score 1.0 for every n, 0 included. A text shorter than n is a set of one
// element, itself, so two different texts score 0.0 as soon as either is
// shorter than n. n = 0 with different texts is rejected (kZeroWindow).
Expected<double, InvalidArgument> jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n);

// Over the distinct words of each text; 1.0 when neither has a word.
double jaccard_word_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
