// Pair scores over two columns. Levenshtein, Jaro-Winkler and the
// measures built on a longest common subsequence (ratio, QRatio,
// token_sort_ratio, Indel, LCSseq) go through one block function each,
// which is where faster kernels plug in; the other scorers run their
// function per pair, on signatures, fingerprints and prepared texts
// (code points and sorted tokens) computed once per string.
#include "collection/pair_scorer.hpp"

#include <algorithm>
#include <atomic>
#include <deque>
#include <new>
#include <span>

#include "algo/hamming.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lcs_seq.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "collection/batch.hpp"
#include "collection/tile_kernels.hpp"
#include "text/utf8.hpp"

namespace vorn::collection {

using registry::Measure;

namespace {

using Views = std::span<const std::string_view>;

// Queries up to this many characters are streamed through the SIMD tile
// kernels; a longer one has its masks built once and reused against every
// choice (cached pattern).
constexpr std::size_t kTileCharacters = 64;

// Calls tile(begin, end) for each run of short queries and cached(i) for
// each long one.
template <class Tile, class Cached>
void split_by_length(Views queries, Tile&& tile, Cached&& cached) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < queries.size(); ++i) {
        if (utf8::count_chars(queries[i]) <= kTileCharacters) continue;
        if (run < i) tile(run, i);
        cached(i);
        run = i + 1;
    }
    if (run < queries.size()) tile(run, queries.size());
}

// The choices of the last block this thread scored, prepared for the tile
// kernels: consecutive tiles of a column share them.
const TileChoices& prepared_choices(Views choices, std::uint64_t owner) {
    struct Cache {
        std::uint64_t owner = 0;
        const std::string_view* data = nullptr;
        std::size_t size = 0;
        std::optional<TileChoices> prepared;
    };
    thread_local Cache cache;
    if (!cache.prepared || cache.owner != owner || cache.data != choices.data() || cache.size != choices.size()) {
        cache.prepared.reset();
        cache.prepared.emplace(choices);
        cache.owner = owner;
        cache.data = choices.data();
        cache.size = choices.size();
    }
    return *cache.prepared;
}

// Every block of Levenshtein distances of the collection layer is computed
// here; a distance above max_distance is reported as max_distance + 1.
void levenshtein_block(Views queries, Views choices, std::int64_t* out, std::size_t stride, std::int64_t max_distance,
                       std::uint64_t owner) {
    // Distances are small and non-negative: the kernels' unsigned results
    // are stored in place.
    auto* unsigned_out = reinterpret_cast<std::uint64_t*>(out);
    const auto bound = static_cast<std::uint64_t>(max_distance);
    split_by_length(
        queries,
        [&](std::size_t begin, std::size_t end) {
            levenshtein_tile(queries.subspan(begin, end - begin), prepared_choices(choices, owner),
                             unsigned_out + begin * stride, stride, bound);
        },
        [&](std::size_t i) {
            const algo::CachedLevenshtein pattern(queries[i]);
            for (std::size_t j = 0; j < choices.size(); ++j)
                unsigned_out[i * stride + j] = pattern.distance(choices[j], bound);
        });
}

// Every block of Jaro-Winkler similarities of the collection layer is
// computed here.
void jaro_winkler_block(Views queries, Views choices, double* out, std::size_t stride, std::uint64_t owner) {
    split_by_length(
        queries,
        [&](std::size_t begin, std::size_t end) {
            jaro_winkler_tile(queries.subspan(begin, end - begin), prepared_choices(choices, owner),
                              out + begin * stride, stride);
        },
        [&](std::size_t i) {
            const algo::CachedJaroWinkler pattern(queries[i]);
            for (std::size_t j = 0; j < choices.size(); ++j) out[i * stride + j] = pattern.similarity(choices[j]);
        });
}

// Hamming over texts of different lengths: the shorter one is padded with
// a character that matches nothing, so every missing position counts as
// one difference and the similarity divides by the longer length. Equal
// lengths give exactly the values of the Hamming functions.
std::int64_t padded_hamming_distance(std::string_view a, std::string_view b) {
    if (auto d = algo::hamming_distance(a, b)) return static_cast<std::int64_t>(*d);
    std::size_t pa = 0, pb = 0;
    std::int64_t distance = 0;
    while (pa < a.size() && pb < b.size()) distance += utf8::decode(a, pa) != utf8::decode(b, pb);
    return distance + static_cast<std::int64_t>(utf8::count_chars(a.substr(pa)) + utf8::count_chars(b.substr(pb)));
}

double padded_hamming_similarity(std::string_view a, std::string_view b) {
    if (auto s = algo::hamming_similarity(a, b)) return *s;
    const std::size_t n = std::max(utf8::count_chars(a), utf8::count_chars(b));
    return 1.0 - static_cast<double>(padded_hamming_distance(a, b)) / static_cast<double>(n);
}

// A collection distance bound as the kernels take it: kUnbounded is no
// bound at all.
std::uint64_t kernel_bound(std::int64_t max_distance) {
    return max_distance >= kUnbounded ? UINT64_MAX : static_cast<std::uint64_t>(max_distance);
}

// Tells the scorers apart in the per-thread cache of prepared choices.
std::atomic<std::uint64_t> next_scorer_id{0};

bool uses_signatures(Measure kind) {
    return kind == Measure::minhash_similarity || kind == Measure::simhash_similarity;
}

// Measures scored on texts prepared once per string.
bool uses_prepared_texts(Measure kind) {
    return (kind >= Measure::fuzz_ratio && kind <= Measure::fuzz_qratio) || kind == Measure::indel_edits ||
           kind == Measure::indel_normalized || kind == Measure::lcs_seq_edits || kind == Measure::lcs_seq_normalized;
}

// Measures that are a function of the LCS of two texts and their lengths.
bool uses_lcs(Measure kind) {
    return kind == Measure::fuzz_ratio || kind == Measure::fuzz_qratio || kind == Measure::fuzz_token_sort_ratio ||
           kind == Measure::indel_edits || kind == Measure::indel_normalized || kind == Measure::lcs_seq_edits ||
           kind == Measure::lcs_seq_normalized;
}

// A similarity from the LCS of two texts of len_a and len_b code points:
// exactly what the measure's pairwise function returns.
double lcs_similarity(Measure kind, std::uint64_t lcs, std::size_t len_a, std::size_t len_b, double score_cutoff) {
    switch (kind) {
        case Measure::fuzz_qratio:
            if (len_a == 0 || len_b == 0) return 0;
            [[fallthrough]];
        case Measure::fuzz_ratio:
        case Measure::fuzz_token_sort_ratio: return algo::fuzz::ratio_from_lcs(lcs, len_a, len_b, score_cutoff);
        default: {
            return registry::counted_similarity(registry::count_from_lcs(kind, lcs, len_a, len_b), score_cutoff);
        }
    }
}

// The choices of the last block this thread scored, prepared for the LCS
// tile: consecutive tiles of a column share them.
template <class TextOf>
const TileChoices& prepared_lcs_choices(std::uint64_t owner, std::size_t c0, std::size_t c1, TextOf text_of) {
    struct Cache {
        std::uint64_t owner = 0;
        std::size_t c0 = 0, c1 = 0;
        std::optional<TileChoices> prepared;
    };
    thread_local Cache cache;
    if (!cache.prepared || cache.owner != owner || cache.c0 != c0 || cache.c1 != c1) {
        cache.prepared.reset();
        std::vector<char32_t> chars;
        std::vector<std::size_t> start{0};
        for (std::size_t j = c0; j < c1; ++j) {
            const std::u32string_view text = text_of(j);
            chars.insert(chars.end(), text.begin(), text.end());
            start.push_back(chars.size());
        }
        cache.prepared.emplace(simd::active_level(), tile_detail::CodePointTexts{chars.data(), start.data(), c1 - c0});
        cache.owner = owner;
        cache.c0 = c0;
        cache.c1 = c1;
    }
    return *cache.prepared;
}

// partial_ratio's needles of the choices of the last block this thread
// scored: consecutive tiles of a column share them. Each caller's own
// text_of (a lambda of its own type) has its own cache.
template <class TextOf>
const std::deque<algo::fuzz::PartialNeedle>& prepared_needles(std::uint64_t owner, std::size_t c0, std::size_t c1,
                                                              TextOf text_of) {
    struct Cache {
        std::uint64_t owner = 0;
        std::size_t c0 = 0, c1 = 0;
        std::deque<algo::fuzz::PartialNeedle> needles;  // needles stay where they are made
    };
    thread_local Cache cache;
    if (cache.owner != owner || cache.c0 != c0 || cache.c1 != c1 || cache.needles.size() != c1 - c0) {
        cache.needles.clear();
        for (std::size_t j = c0; j < c1; ++j) cache.needles.emplace_back(text_of(j));
        cache.owner = owner;
        cache.c0 = c0;
        cache.c1 = c1;
    }
    return cache.needles;
}

bool uses_needles(Measure kind) { return kind == Measure::fuzz_partial_ratio || kind == Measure::fuzz_wratio; }

}  // namespace

// A distance bound for a similarity cutoff c over texts of at most m
// characters: any distance beyond it gives 1 - d / m < c - 1 / m, below
// the cutoff whatever the rounding (the + 1 is that margin). No bound for
// c <= 0.
std::int64_t distance_bound(double cutoff, std::size_t m) {
    if (!(cutoff > 0.0)) return kUnbounded;
    const double allowed = (1.0 - cutoff) * static_cast<double>(m);
    if (!(allowed < static_cast<double>(m))) return kUnbounded;
    return static_cast<std::int64_t>(allowed) + 1;
}

double levenshtein_similarity_of(std::int64_t distance, std::size_t count_a, std::size_t count_b) {
    const std::size_t m = std::max(count_a, count_b);
    if (m == 0) return 1.0;
    return 1.0 - static_cast<double>(distance) / static_cast<double>(m);
}

Expected<bool, InvalidArgument> check_scorer(const ScorerConfig& config) {
    if (registry::is_windowed(config.kind) && config.size == 0) return kZeroWindow;
    return true;
}

PairScorer::PairScorer(const ScorerConfig& config, const StringColumn& a, const StringColumn& b, bool per_string_data)
    : config_(config), a_(a), b_(b), same_(&a == &b), id_(next_scorer_id.fetch_add(1) + 1) {
    if (!per_string_data && registry::is_rapidfuzz(config.kind)) return;
    if (uses_prepared_texts(config.kind)) {
        prepared_a_.resize(a.size());
        prepared_b_.resize(same_ ? 0 : b.size());
        prepare_count_ = prepared_a_.size() + prepared_b_.size();
        return;
    }
    if (!uses_signatures(config.kind)) return;
    const std::size_t width = config.kind == Measure::minhash_similarity ? config.num_hashes : 1;
    const std::size_t n_b = same_ ? 0 : b.size();
    if (width != 0 && std::max(a.size(), n_b) > std::numeric_limits<std::size_t>::max() / 8 / width)
        throw std::bad_alloc();
    signatures_a_.resize(a.size() * width);
    signatures_b_.resize(n_b * width);
    prepare_count_ = a.size() + n_b;
}

void PairScorer::prepare(std::size_t begin, std::size_t end) {
    if (uses_prepared_texts(config_.kind)) {
        for (std::size_t item = begin; item < end; ++item) {
            const bool in_a = item < a_.size();
            const StringColumn& column = in_a ? a_ : b_;
            const std::size_t i = in_a ? item : item - a_.size();
            if (column.is_null(i)) continue;
            // The measures over whole texts need no tokens.
            const bool with_tokens =
                config_.kind == Measure::fuzz_token_sort_ratio ||
                (config_.kind >= Measure::fuzz_token_set_ratio && config_.kind <= Measure::fuzz_wratio);
            (in_a ? prepared_a_ : prepared_b_)[i] = algo::fuzz::PreparedText(column[i], with_tokens);
        }
        return;
    }
    const bool minhash = config_.kind == Measure::minhash_similarity;
    const std::size_t width = minhash ? config_.num_hashes : 1;
    for (std::size_t item = begin; item < end; ++item) {
        const bool in_a = item < a_.size();
        const StringColumn& column = in_a ? a_ : b_;
        const std::size_t i = in_a ? item : item - a_.size();
        if (column.is_null(i)) continue;
        std::uint64_t* out = (in_a ? signatures_a_ : signatures_b_).data() + i * width;
        if (minhash) {
            auto signature = algo::minhash_signature(column[i], config_.size, config_.num_hashes);
            std::copy(signature->begin(), signature->end(), out);  // size checked by check_scorer
        } else {
            *out = *algo::simhash_fingerprint(column[i], config_.size);
        }
    }
}

std::size_t PairScorer::pairs_per_chunk() const noexcept { return collection::pairs_per_chunk(a_, b_); }

double PairScorer::fingerprint_similarity(std::size_t i, std::size_t j) const {
    const auto& signatures_b = same_ ? signatures_a_ : signatures_b_;
    if (config_.kind == Measure::simhash_similarity)
        return algo::simhash_fingerprint_similarity(signatures_a_[i], signatures_b[j]);
    const std::size_t width = config_.num_hashes;
    return algo::minhash_signature_similarity(std::span(signatures_a_).subspan(i * width, width),
                                              std::span(signatures_b).subspan(j * width, width));
}

const algo::fuzz::PreparedText& PairScorer::prepared_b(std::size_t j) const noexcept {
    return same_ ? prepared_a_[j] : prepared_b_[j];
}

std::u32string_view PairScorer::lcs_text(const algo::fuzz::PreparedText& text) const noexcept {
    return config_.kind == Measure::fuzz_token_sort_ratio ? text.sorted_joined() : text.chars();
}

void PairScorer::lcs_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, std::uint64_t* out,
                           std::size_t stride) const {
    const TileChoices& choices =
        prepared_lcs_choices(id_, c0, c1, [&](std::size_t j) { return lcs_text(prepared_b(j)); });
    thread_local std::vector<char32_t> chars;
    thread_local std::vector<std::size_t> start;
    chars.clear();
    start.assign(1, 0);
    for (std::size_t i = r0; i < r1; ++i) {
        const std::u32string_view text = lcs_text(prepared_a_[i]);
        chars.insert(chars.end(), text.begin(), text.end());
        start.push_back(chars.size());
    }
    lcs_seq_tile(tile_detail::CodePointTexts{chars.data(), start.data(), r1 - r0}, choices, out, stride);
}

double PairScorer::similarity(std::size_t i, std::size_t j) const {
    if (a_.is_null(i) || b_.is_null(j)) return kNullSimilarity;
    if (uses_prepared_texts(config_.kind)) {
        const algo::fuzz::PreparedText &a = prepared_a_[i], &b = prepared_b(j);
        if (!uses_lcs(config_.kind)) return registry::fuzz_similarity(config_.kind, a, b, config_.score_cutoff);
        const std::u32string_view x = lcs_text(a), y = lcs_text(b);
        return lcs_similarity(config_.kind, algo::lcs_seq_similarity(x, y), x.size(), y.size(), config_.score_cutoff);
    }
    const std::string_view a = a_[i], b = b_[j];
    if (registry::is_rapidfuzz(config_.kind))
        return registry::rapidfuzz_similarity(config_.kind, a, b, config_.score_cutoff, config_.options);
    switch (config_.kind) {
        case Measure::hamming_similarity: return padded_hamming_similarity(a, b);
        case Measure::minhash_similarity:
        case Measure::simhash_similarity: return fingerprint_similarity(i, j);
        default: {
            // Sizes of 0 are refused by check_scorer; a distance has no similarity.
            const auto score = registry::similarity(config_.kind, config_.size, config_.num_hashes, a, b);
            return score ? *score : kNullSimilarity;
        }
    }
}

std::int64_t PairScorer::distance(std::size_t i, std::size_t j, std::int64_t max_distance) const {
    if (a_.is_null(i) || b_.is_null(j)) return kNullDistance;
    const std::string_view a = a_[i], b = b_[j];
    if (config_.kind == Measure::hamming_distance) return std::min(padded_hamming_distance(a, b), max_distance + 1);
    if (uses_lcs(config_.kind)) {
        const std::u32string_view x = prepared_a_[i].chars(), y = prepared_b(j).chars();
        const registry::Counted count =
            registry::count_from_lcs(config_.kind, algo::lcs_seq_similarity(x, y), x.size(), y.size());
        return std::min(static_cast<std::int64_t>(count.distance), max_distance + 1);
    }
    if (registry::is_rapidfuzz(config_.kind)) {
        // Counts fit an int64: they are at most a few times the texts' lengths.
        const auto d = static_cast<std::int64_t>(registry::rapidfuzz_distance(config_.kind, a, b, config_.options));
        return std::min(d, max_distance + 1);
    }
    // The aligned-pair kernel's value, so that a pair scores alike here and
    // in distance_pairs.
    std::uint64_t d = 0;
    levenshtein_pairs(Views(&a, 1), Views(&b, 1), &d, kernel_bound(max_distance));
    return static_cast<std::int64_t>(d);
}

namespace {

// Marks the pairs with a null in a block of scores.
template <class Value>
void fill_nulls(const StringColumn& a, const StringColumn& b, std::size_t r0, std::size_t r1, std::size_t c0,
                std::size_t c1, Value* out, std::size_t stride, Value null) {
    if (!a.has_nulls() && !b.has_nulls()) return;
    for (std::size_t i = r0; i < r1; ++i)
        for (std::size_t j = c0; j < c1; ++j)
            if (a.is_null(i) || b.is_null(j)) out[(i - r0) * stride + (j - c0)] = null;
}

// Calls score(first, last) over [begin, end) in runs short enough to stop
// between them soon after a request.
template <class Score>
void in_runs(std::size_t begin, std::size_t end, const ChunkContext& context, Score score) {
    constexpr std::size_t kRun = 256;
    for (std::size_t first = begin; first < end && !context.stop_requested(); first += kRun)
        score(first, std::min(end, first + kRun));
}

// The Levenshtein distances of the aligned pairs [begin, end) into out.
void levenshtein_pairs_of(const StringColumn& a, const StringColumn& b, std::size_t begin, std::size_t end,
                          std::int64_t* out, std::int64_t max_distance) {
    // Distances are small and non-negative: the kernel's unsigned results
    // are stored in place.
    levenshtein_pairs(Views(a.values()).subspan(begin, end - begin), Views(b.values()).subspan(begin, end - begin),
                      reinterpret_cast<std::uint64_t*>(out), kernel_bound(max_distance));
}

// Marks the aligned pairs with a null.
template <class Value>
void fill_nulls(const StringColumn& a, const StringColumn& b, std::size_t begin, std::size_t end, Value* out,
                Value null) {
    if (!a.has_nulls() && !b.has_nulls()) return;
    for (std::size_t i = begin; i < end; ++i)
        if (a.is_null(i) || b.is_null(i)) out[i - begin] = null;
}

}  // namespace

void PairScorer::similarity_pairs(std::size_t begin, std::size_t end, double* out, const ChunkContext& context) const {
    if (config_.kind != Measure::levenshtein_similarity) {
        in_runs(begin, end, context, [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) out[i - begin] = similarity(i, i);
        });
        return;
    }
    static_assert(sizeof(double) == sizeof(std::int64_t));
    in_runs(begin, end, context, [&](std::size_t first, std::size_t last) {
        // Distances first, in the output's own memory, then each becomes
        // its similarity in place.
        auto* distances = reinterpret_cast<std::int64_t*>(out + (first - begin));
        levenshtein_pairs_of(a_, b_, first, last, distances, kUnbounded);
        for (std::size_t i = first; i < last; ++i) {
            const std::int64_t d = distances[i - first];
            out[i - begin] = levenshtein_similarity_of(d, utf8::count_chars(a_[i]), utf8::count_chars(b_[i]));
        }
    });
    fill_nulls(a_, b_, begin, end, out, kNullSimilarity);
}

void PairScorer::distance_pairs(std::size_t begin, std::size_t end, std::int64_t* out, std::int64_t max_distance,
                                const ChunkContext& context) const {
    in_runs(begin, end, context, [&](std::size_t first, std::size_t last) {
        if (config_.kind == Measure::levenshtein_distance) {
            levenshtein_pairs_of(a_, b_, first, last, out + (first - begin), max_distance);
            return;
        }
        for (std::size_t i = first; i < last; ++i) out[i - begin] = distance(i, i, max_distance);
    });
    if (config_.kind == Measure::levenshtein_distance) fill_nulls(a_, b_, begin, end, out, kNullDistance);
}

void PairScorer::similarity_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, double* out,
                                  std::size_t stride, std::optional<double> cutoff, const ChunkContext& context) const {
    const Views queries = Views(a_.values()).subspan(r0, r1 - r0);
    const Views choices = Views(b_.values()).subspan(c0, c1 - c0);
    if (config_.kind == Measure::jaro_winkler_similarity) {
        jaro_winkler_block(queries, choices, out, stride, id_);
    } else if (uses_lcs(config_.kind)) {
        // LCS lengths first, in the output's own memory, then each becomes
        // its similarity in place.
        static_assert(sizeof(double) == sizeof(std::uint64_t));
        auto* lengths = reinterpret_cast<std::uint64_t*>(out);
        lcs_block(r0, r1, c0, c1, lengths, stride);
        thread_local std::vector<std::size_t> lengths_b;
        lengths_b.resize(c1 - c0);
        for (std::size_t j = c0; j < c1; ++j) lengths_b[j - c0] = lcs_text(prepared_b(j)).size();
        const bool plain_ratio = config_.kind == Measure::fuzz_ratio || config_.kind == Measure::fuzz_token_sort_ratio;
        for (std::size_t i = r0; i < r1; ++i) {
            const std::size_t len_a = lcs_text(prepared_a_[i]).size();
            std::uint64_t* row_lengths = lengths + (i - r0) * stride;
            double* row = out + (i - r0) * stride;
            if (plain_ratio) {
                // The common case in a loop of its own, with nothing to dispatch.
                for (std::size_t j = 0; j < c1 - c0; ++j)
                    row[j] = algo::fuzz::ratio_from_lcs(row_lengths[j], len_a, lengths_b[j], config_.score_cutoff);
                continue;
            }
            for (std::size_t j = 0; j < c1 - c0; ++j)
                row[j] = lcs_similarity(config_.kind, row_lengths[j], len_a, lengths_b[j], config_.score_cutoff);
        }
    } else if (config_.kind == Measure::levenshtein_similarity) {
        // Distances first (in the output's own memory), then each becomes
        // its similarity in place. Under a cutoff each distance is bounded:
        // beyond its bound the similarity is below the cutoff.
        static_assert(sizeof(double) == sizeof(std::int64_t));
        auto* distances = reinterpret_cast<std::int64_t*>(out);
        std::vector<std::size_t> counts_a(queries.size()), counts_b(choices.size());
        std::size_t longest = 0;
        for (std::size_t i = 0; i < queries.size(); ++i)
            longest = std::max(longest, counts_a[i] = utf8::count_chars(queries[i]));
        for (std::size_t j = 0; j < choices.size(); ++j)
            longest = std::max(longest, counts_b[j] = utf8::count_chars(choices[j]));
        const std::int64_t bound = cutoff ? distance_bound(*cutoff, longest) : kUnbounded;
        levenshtein_block(queries, choices, distances, stride, bound, id_);
        for (std::size_t i = 0; i < queries.size(); ++i) {
            for (std::size_t j = 0; j < choices.size(); ++j) {
                const std::int64_t d = distances[i * stride + j];
                const std::size_t m = std::max(counts_a[i], counts_b[j]);
                const std::int64_t pair_bound = cutoff ? distance_bound(*cutoff, m) : kUnbounded;
                out[i * stride + j] = d > pair_bound ? 0.0 : levenshtein_similarity_of(d, counts_a[i], counts_b[j]);
            }
        }
    } else if (uses_needles(config_.kind)) {
        // Each text's needle built once for the block (the choices' once
        // for all blocks of their column this thread scores).
        // WRatio also compares the sorted tokens joined, partially.
        const bool wratio = config_.kind == Measure::fuzz_wratio;
        thread_local std::deque<algo::fuzz::PartialNeedle> query_needles, sorted_query_needles;
        query_needles.clear();
        sorted_query_needles.clear();
        for (std::size_t i = r0; i < r1; ++i) {
            query_needles.emplace_back(prepared_a_[i].chars());
            if (wratio) sorted_query_needles.emplace_back(prepared_a_[i].sorted_joined());
        }
        // A needle takes kilobytes: the choices' are kept for at most
        // kNeedleColumns at a time. A tile of 64 rows or more is no wider
        // (batch.cpp), so its column's next tiles still find them.
        constexpr std::size_t kNeedleColumns = 256;
        for (std::size_t s0 = c0; s0 < c1; s0 += kNeedleColumns) {
            const std::size_t s1 = std::min(c1, s0 + kNeedleColumns);
            const auto& choice_needles =
                prepared_needles(id_, s0, s1, [&](std::size_t j) { return prepared_b(j).chars(); });
            const auto& sorted_choice_needles = prepared_needles(
                id_, s0, wratio ? s1 : s0, [&](std::size_t j) { return prepared_b(j).sorted_joined(); });
            for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i) {
                for (std::size_t j = s0; j < s1; ++j) {
                    const auto &a = prepared_a_[i], &b = prepared_b(j);
                    const auto &needle_a = query_needles[i - r0], &needle_b = choice_needles[j - s0];
                    out[(i - r0) * stride + (j - c0)] =
                        wratio
                            ? algo::fuzz::wratio(a, b, config_.score_cutoff, {needle_a, sorted_query_needles[i - r0]},
                                                 {needle_b, sorted_choice_needles[j - s0]})
                            : algo::fuzz::partial_ratio(a, b, config_.score_cutoff, needle_a, needle_b);
                }
            }
        }
    } else {
        for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i)
            for (std::size_t j = c0; j < c1; ++j) out[(i - r0) * stride + (j - c0)] = similarity(i, j);
        return;
    }
    fill_nulls(a_, b_, r0, r1, c0, c1, out, stride, kNullSimilarity);
}

void PairScorer::distance_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, std::int64_t* out,
                                std::size_t stride, std::int64_t max_distance, const ChunkContext& context) const {
    if (config_.kind == Measure::levenshtein_distance) {
        levenshtein_block(Views(a_.values()).subspan(r0, r1 - r0), Views(b_.values()).subspan(c0, c1 - c0), out, stride,
                          max_distance, id_);
        fill_nulls(a_, b_, r0, r1, c0, c1, out, stride, kNullDistance);
        return;
    }
    if (uses_lcs(config_.kind)) {
        auto* lengths = reinterpret_cast<std::uint64_t*>(out);
        lcs_block(r0, r1, c0, c1, lengths, stride);
        for (std::size_t i = r0; i < r1; ++i) {
            const std::size_t len_a = prepared_a_[i].chars().size();
            for (std::size_t j = c0; j < c1; ++j) {
                const std::size_t at = (i - r0) * stride + (j - c0);
                const registry::Counted count =
                    registry::count_from_lcs(config_.kind, lengths[at], len_a, prepared_b(j).chars().size());
                out[at] = std::min(static_cast<std::int64_t>(count.distance), max_distance + 1);
            }
        }
        fill_nulls(a_, b_, r0, r1, c0, c1, out, stride, kNullDistance);
        return;
    }
    for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i)
        for (std::size_t j = c0; j < c1; ++j) out[(i - r0) * stride + (j - c0)] = distance(i, j, max_distance);
}

}  // namespace vorn::collection
