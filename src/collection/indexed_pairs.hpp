// Scores of pairs named by their row numbers, a[i[k]] against b[j[k]]: the
// candidate pairs of record linkage, scored field by field. Each score is
// exactly the scorer's value for the pair (PairScorer::similarity and
// ::distance), however the pairs are spread over chunks and workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "collection/batch.hpp"
#include "collection/pair_scorer.hpp"

namespace vorn::collection {

// Writes the score of pair k into out[k] for every k < i.size() (j has the
// same size): similarities as they are, distances converted to double
// (exact: they are character counts). A pair with a null scores NaN, and
// so does one with an empty text when `empty_is_missing` (record linkage
// reads an empty field as a missing one). Every index must be in range
// (the binding checks them). False when the run was stopped.
bool indexed_pairs(const PairScorer& scorer, std::span<const std::int64_t> i, std::span<const std::int64_t> j,
                   bool empty_is_missing, const Runner& run, double* out);

}  // namespace vorn::collection
