// The collection drivers over a PairScorer: a full matrix (cdist), scores
// of aligned pairs (cpdist), the best k choices of each query (topk) and
// every pair at or beyond a cutoff (threshold_join). Work is cut into
// chunks of pairs, so that one query against many choices also spreads
// over every worker; memory beyond the output is per worker and per chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "collection/pair_scorer.hpp"
#include "collection/parallel.hpp"
#include "collection/search.hpp"

namespace vorn::collection {

// Runs a chunked body (in the manner of parallel_for with the caller's own
// workers and stop polling); false when the run was stopped.
using Runner = std::function<bool(std::size_t n_items, std::size_t chunk, const ChunkBody& body)>;

// Element type of an output array. Values are converted as C++ (and NumPy)
// convert: floats round to nearest, integers wrap.
enum class OutputType { float64, float32, int64, int32, int16, int8, uint64, uint32, uint16, uint8 };

// An output array: C-contiguous elements of one type.
struct Output {
    void* data;
    OutputType type;
};

// Similarities below `similarity` become 0.0; distances above `distance`
// become distance + 1, and the distance kernels stop early beyond it.
// Nulls keep their NaN / -1.
struct Cutoff {
    std::optional<double> similarity;
    std::optional<std::int64_t> distance;
};

// Scores of every a[i] against every b[j], row-major into n_a x n_b.
bool cdist(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out);

// Scores of a[i] against b[i] for every i (equal sizes), into n elements.
bool cpdist(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out);

// The k best choices of each query, best first (higher similarity, lower
// distance), ties to the lower index; only pairs within the cutoff and
// without nulls count. Rows are padded with index -1 and score NaN (-1 for
// integer outputs). `indices` holds n_a x k int64, `scores` n_a x k.
// A few queries are searched one at a time with a rising bar that skips
// choices which cannot make the best k (search.hpp), faster with what is
// known of the choices already (ChoiceLengths).
bool topk(const PairScorer& scorer, std::size_t k, const Runner& run, std::size_t workers, const Cutoff& cutoff,
          std::int64_t* indices, Output scores, const ChoiceLengths& choice_lengths = {});

// Every pair (i, j) whose score is within the cutoff (required), ordered
// by i and then j; with `self_join` (a and b the same column) only i < j.
struct JoinResult {
    std::vector<std::int64_t> i, j;
    std::vector<double> similarity;      // similarity scorers
    std::vector<std::int64_t> distance;  // distance scorers
};
std::optional<JoinResult> threshold_join(const PairScorer& scorer, bool self_join, const Runner& run,
                                         const Cutoff& cutoff);

// Items per chunk for pairs of texts of these mean byte lengths: about
// the same amount of work per chunk whatever the texts.
std::size_t pairs_per_chunk(const StringColumn& a, const StringColumn& b) noexcept;

}  // namespace vorn::collection
