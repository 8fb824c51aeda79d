// Okapi BM25 of the second text as a document for the first text as a
// query, over the corpus of the two texts, scaled by the query's best score.
#pragma once

#include <string_view>

namespace vorn::algo {

// k1 1.2, b 0.75, idf ln((N - df + 0.5) / (df + 0.5) + 1) with N = 2; the
// raw score against b divided by the larger of the scores against a and b,
// 0.0 when that is 0. Directional: the first text is the query.
double bm25_similarity(std::string_view query, std::string_view document);

}  // namespace vorn::algo
