// Scores of pairs drawn from two string columns with one of the pairwise
// algorithms, each exactly the value of the algorithm's own function.
// Signatures and fingerprints are computed once per string, not per pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "algo/fuzz_ratios.hpp"
#include "collection/parallel.hpp"
#include "collection/string_column.hpp"
#include "error/vorn_error.hpp"
#include "router/registry.hpp"

namespace vorn::collection {

// A measure of the registry with its sizes.
struct ScorerConfig {
    registry::Measure kind = registry::Measure::levenshtein_distance;
    std::uint64_t size = 0;
    std::uint64_t num_hashes = 0;
    // The similarity cutoff, for the RapidFuzz-compatible ratios whose
    // value depends on it (WRatio's inner cutoffs); 0 for none.
    double score_cutoff = 0;
    // A RapidFuzz-compatible metric's option (weights, prefix_weight, pad);
    // a kernel that ignores them serves only options.are_defaults().
    registry::Options options;
};

using registry::is_distance;

// The score of a pair with a null: NaN as a similarity, -1 as a distance.
inline constexpr double kNullSimilarity = std::numeric_limits<double>::quiet_NaN();
inline constexpr std::int64_t kNullDistance = -1;

// No bound on a distance.
inline constexpr std::int64_t kUnbounded = std::numeric_limits<std::int64_t>::max() - 1;

// levenshtein_similarity from the distance and the texts' character
// counts: 1.0 for two empty texts, otherwise 1.0 - d / m with m the larger
// count (the formula of the core function, so the values are the same).
double levenshtein_similarity_of(std::int64_t distance, std::size_t count_a, std::size_t count_b);

// The largest Levenshtein distance that can still give a similarity of
// at least `cutoff` over texts of at most m characters (kUnbounded for a
// cutoff <= 0); the bound keeps a margin of one edit against rounding.
std::int64_t distance_bound(double cutoff, std::size_t m);

// Size 0 for the windowed scorers (n-grams, shingles) is refused before
// any work starts.
Expected<bool, InvalidArgument> check_scorer(const ScorerConfig& config);

class PairScorer {
public:
    // `b` may be the same object as `a` (a self-join); both must outlive
    // the scorer.
    // Without `per_string_data` the RapidFuzz-compatible measures keep no
    // per-string data (nothing to prepare): such a scorer serves only a
    // caller that scores their pairs through the registry (search.hpp).
    PairScorer(const ScorerConfig& config, const StringColumn& a, const StringColumn& b, bool per_string_data = true);

    const ScorerConfig& config() const noexcept { return config_; }
    std::size_t rows() const noexcept { return a_.size(); }
    std::size_t columns() const noexcept { return b_.size(); }
    const StringColumn& column_a() const noexcept { return a_; }
    const StringColumn& column_b() const noexcept { return b_; }
    // Pairs per chunk of work for these texts (see batch.hpp).
    std::size_t pairs_per_chunk() const noexcept;

    // Per-string work (signatures, fingerprints) done before scoring, as
    // items [0, prepare_count()) to be run in parallel; afterwards scoring
    // only reads.
    std::size_t prepare_count() const noexcept { return prepare_count_; }
    void prepare(std::size_t begin, std::size_t end);

    // Similarity of a[i] and b[j] (NaN with a null).
    double similarity(std::size_t i, std::size_t j) const;
    // Distance of a[i] and b[j] (-1 with a null); a distance above
    // `max_distance` may be reported as max_distance + 1 instead.
    std::int64_t distance(std::size_t i, std::size_t j, std::int64_t max_distance = kUnbounded) const;

    // The aligned pairs (i, i), i in [begin, end), into out[i - begin]:
    // the values similarity(i, i) and distance(i, i, max_distance) give,
    // stopping between short runs on request.
    void similarity_pairs(std::size_t begin, std::size_t end, double* out, const ChunkContext& context) const;
    void distance_pairs(std::size_t begin, std::size_t end, std::int64_t* out, std::int64_t max_distance,
                        const ChunkContext& context) const;

    // Rows [r0, r1) of a against columns [c0, c1) of b into
    // out[(i - r0) * stride + (j - c0)], stopping between rows on request.
    // With a cutoff, a similarity below it may be reported as any value
    // below it (the work stops early).
    void similarity_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, double* out,
                          std::size_t stride, std::optional<double> cutoff, const ChunkContext& context) const;
    void distance_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, std::int64_t* out,
                        std::size_t stride, std::int64_t max_distance, const ChunkContext& context) const;

private:
    double fingerprint_similarity(std::size_t i, std::size_t j) const;
    const algo::fuzz::PreparedText& prepared_b(std::size_t j) const noexcept;
    // Lengths of the longest common subsequences of a block into out
    // (the LCS-based measures).
    void lcs_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, std::uint64_t* out,
                   std::size_t stride) const;
    std::u32string_view lcs_text(const algo::fuzz::PreparedText& text) const noexcept;

    ScorerConfig config_;
    const StringColumn& a_;
    const StringColumn& b_;
    bool same_ = false;
    std::uint64_t id_;  // unique per scorer object
    std::size_t prepare_count_ = 0;
    std::vector<std::uint64_t> signatures_a_, signatures_b_;  // num_hashes per string, or one fingerprint
    // The RapidFuzz-compatible measures over code points: each string
    // decoded and split once (empty for a null).
    std::vector<algo::fuzz::PreparedText> prepared_a_, prepared_b_;
};

}  // namespace vorn::collection
