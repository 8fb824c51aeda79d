// Levenshtein pairs are gathered into runs of views and go through the
// aligned-pair kernel, which is what PairScorer::distance itself calls for
// one pair; every other scorer is called pair by pair.
#include "collection/indexed_pairs.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include "collection/tile_kernels.hpp"
#include "text/utf8.hpp"

namespace vorn::collection {
namespace {

// Pairs scored between two checks for a stop request.
constexpr std::size_t kRun = 256;

void levenshtein_run(const PairScorer& scorer, const std::int64_t* i, const std::int64_t* j, std::size_t n,
                     double* out) {
    const StringColumn &a = scorer.column_a(), &b = scorer.column_b();
    thread_local std::vector<std::string_view> views_a, views_b;
    thread_local std::vector<std::uint64_t> distances;
    views_a.resize(n);
    views_b.resize(n);
    distances.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        views_a[k] = a[static_cast<std::size_t>(i[k])];
        views_b[k] = b[static_cast<std::size_t>(j[k])];
    }
    levenshtein_pairs(views_a, views_b, distances.data(), std::numeric_limits<std::uint64_t>::max());
    const bool similarity = scorer.config().kind == registry::Measure::levenshtein_similarity;
    for (std::size_t k = 0; k < n; ++k) {
        if (a.is_null(static_cast<std::size_t>(i[k])) || b.is_null(static_cast<std::size_t>(j[k]))) {
            out[k] = kNullSimilarity;
        } else if (similarity) {
            out[k] = levenshtein_similarity_of(static_cast<std::int64_t>(distances[k]), utf8::count_chars(views_a[k]),
                                               utf8::count_chars(views_b[k]));
        } else {
            out[k] = static_cast<double>(distances[k]);
        }
    }
}

void scorer_run(const PairScorer& scorer, const std::int64_t* i, const std::int64_t* j, std::size_t n, double* out) {
    const bool distance = is_distance(scorer.config().kind);
    for (std::size_t k = 0; k < n; ++k) {
        const auto row = static_cast<std::size_t>(i[k]), column = static_cast<std::size_t>(j[k]);
        if (!distance) {
            out[k] = scorer.similarity(row, column);
            continue;
        }
        const std::int64_t d = scorer.distance(row, column);
        out[k] = d < 0 ? kNullSimilarity : static_cast<double>(d);
    }
}

void mark_empty(const PairScorer& scorer, const std::int64_t* i, const std::int64_t* j, std::size_t n, double* out) {
    const StringColumn &a = scorer.column_a(), &b = scorer.column_b();
    for (std::size_t k = 0; k < n; ++k)
        if (a[static_cast<std::size_t>(i[k])].empty() || b[static_cast<std::size_t>(j[k])].empty())
            out[k] = kNullSimilarity;
}

}  // namespace

bool indexed_pairs(const PairScorer& scorer, std::span<const std::int64_t> i, std::span<const std::int64_t> j,
                   bool empty_is_missing, const Runner& run, double* out) {
    const std::size_t n = std::min(i.size(), j.size());
    const bool levenshtein = scorer.config().kind == registry::Measure::levenshtein_distance ||
                             scorer.config().kind == registry::Measure::levenshtein_similarity;
    return run(n, scorer.pairs_per_chunk(), [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
        for (std::size_t first = begin; first < end && !context.stop_requested(); first += kRun) {
            const std::size_t count = std::min(end, first + kRun) - first;
            if (levenshtein) {
                levenshtein_run(scorer, i.data() + first, j.data() + first, count, out + first);
            } else {
                scorer_run(scorer, i.data() + first, j.data() + first, count, out + first);
            }
            if (empty_is_missing) mark_empty(scorer, i.data() + first, j.data() + first, count, out + first);
        }
    });
}

}  // namespace vorn::collection
