// Cosine similarity of the TF-IDF vectors of two texts, with the two texts
// as the whole corpus.
#pragma once

#include <string_view>

namespace vorn::algo {

// tf = count / tokens, idf = ln(3 / (df + 1)) + 1. 1.0 when neither text
// has a term, 0.0 when exactly one has none, +0.0 without a shared term;
// never above 1.0. Sums run in order of first occurrence, so the result is
// the same in every process.
double tfidf_similarity(std::string_view a, std::string_view b);

}  // namespace vorn::algo
