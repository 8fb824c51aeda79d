// Pair scores over two columns. Levenshtein and Jaro-Winkler go through
// one block function each, which is where faster kernels plug in; the
// other scorers run their function per pair, on signatures and
// fingerprints computed once per string.
#include "collection/pair_scorer.hpp"

#include <algorithm>
#include <new>
#include <span>

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "text/utf8.hpp"

namespace vorn::collection {
namespace {

using Views = std::span<const std::string_view>;

// Every Levenshtein distance of the collection layer is computed here;
// a distance above max_distance is reported as max_distance + 1.
void levenshtein_tile(Views queries, Views choices, std::int64_t* out, std::size_t stride, std::int64_t max_distance) {
    for (std::size_t i = 0; i < queries.size(); ++i)
        for (std::size_t j = 0; j < choices.size(); ++j) {
            const auto d = static_cast<std::int64_t>(algo::levenshtein_distance(queries[i], choices[j]));
            out[i * stride + j] = std::min(d, max_distance + 1);
        }
}

// Every Jaro-Winkler similarity of the collection layer is computed here.
void jaro_winkler_tile(Views queries, Views choices, double* out, std::size_t stride) {
    for (std::size_t i = 0; i < queries.size(); ++i)
        for (std::size_t j = 0; j < choices.size(); ++j)
            out[i * stride + j] = algo::jaro_winkler_similarity(queries[i], choices[j]);
}

// levenshtein_similarity from the distance: 1.0 for two empty texts,
// otherwise 1.0 - d / m with m the larger character count.
double levenshtein_similarity_of(std::int64_t distance, std::size_t count_a, std::size_t count_b) {
    const std::size_t m = std::max(count_a, count_b);
    if (m == 0) return 1.0;
    return 1.0 - static_cast<double>(distance) / static_cast<double>(m);
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

bool uses_signatures(ScorerKind kind) {
    return kind == ScorerKind::minhash_similarity || kind == ScorerKind::simhash_similarity;
}

}  // namespace

Expected<bool, InvalidArgument> check_scorer(const ScorerConfig& config) {
    const bool windowed = config.kind == ScorerKind::jaccard_similarity || uses_signatures(config.kind);
    if (windowed && config.size == 0) return kZeroWindow;
    return true;
}

PairScorer::PairScorer(const ScorerConfig& config, const StringColumn& a, const StringColumn& b)
    : config_(config), a_(a), b_(b), same_(&a == &b) {
    if (!uses_signatures(config.kind)) return;
    const std::size_t width = config.kind == ScorerKind::minhash_similarity ? config.num_hashes : 1;
    const std::size_t n_b = same_ ? 0 : b.size();
    if (width != 0 && std::max(a.size(), n_b) > std::numeric_limits<std::size_t>::max() / 8 / width)
        throw std::bad_alloc();
    signatures_a_.resize(a.size() * width);
    signatures_b_.resize(n_b * width);
    prepare_count_ = a.size() + n_b;
}

void PairScorer::prepare(std::size_t begin, std::size_t end) {
    const bool minhash = config_.kind == ScorerKind::minhash_similarity;
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

double PairScorer::fingerprint_similarity(std::size_t i, std::size_t j) const {
    const auto& signatures_b = same_ ? signatures_a_ : signatures_b_;
    if (config_.kind == ScorerKind::simhash_similarity)
        return algo::simhash_fingerprint_similarity(signatures_a_[i], signatures_b[j]);
    const std::size_t width = config_.num_hashes;
    return algo::minhash_signature_similarity(std::span(signatures_a_).subspan(i * width, width),
                                              std::span(signatures_b).subspan(j * width, width));
}

double PairScorer::similarity(std::size_t i, std::size_t j) const {
    if (a_.is_null(i) || b_.is_null(j)) return kNullSimilarity;
    const std::string_view a = a_[i], b = b_[j];
    switch (config_.kind) {
        case ScorerKind::levenshtein_similarity: {
            std::int64_t d;
            levenshtein_tile(Views(&a, 1), Views(&b, 1), &d, 1, kUnbounded);
            return levenshtein_similarity_of(d, utf8::count_chars(a), utf8::count_chars(b));
        }
        case ScorerKind::jaro_winkler_similarity: {
            double s;
            jaro_winkler_tile(Views(&a, 1), Views(&b, 1), &s, 1);
            return s;
        }
        case ScorerKind::hamming_similarity: return padded_hamming_similarity(a, b);
        case ScorerKind::jaccard_similarity: {
            auto s = algo::jaccard_similarity(a, b, config_.size);
            return s ? *s : kNullSimilarity;  // size 0 is refused by check_scorer
        }
        case ScorerKind::jaccard_word_similarity: return algo::jaccard_word_similarity(a, b);
        case ScorerKind::minhash_similarity:
        case ScorerKind::simhash_similarity: return fingerprint_similarity(i, j);
        case ScorerKind::bm25_similarity: return algo::bm25_similarity(a, b);
        case ScorerKind::tfidf_similarity: return algo::tfidf_similarity(a, b);
        case ScorerKind::levenshtein_distance:
        case ScorerKind::hamming_distance: break;
    }
    return kNullSimilarity;
}

std::int64_t PairScorer::distance(std::size_t i, std::size_t j, std::int64_t max_distance) const {
    if (a_.is_null(i) || b_.is_null(j)) return kNullDistance;
    const std::string_view a = a_[i], b = b_[j];
    if (config_.kind == ScorerKind::hamming_distance)
        return std::min(padded_hamming_distance(a, b), max_distance + 1);
    std::int64_t d;
    levenshtein_tile(Views(&a, 1), Views(&b, 1), &d, 1, max_distance);
    return d;
}

void PairScorer::similarity_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, double* out,
                                  std::size_t stride, const ChunkContext& context) const {
    const bool tiled = config_.kind == ScorerKind::jaro_winkler_similarity ||
                       config_.kind == ScorerKind::levenshtein_similarity;
    if (!tiled) {
        for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i)
            for (std::size_t j = c0; j < c1; ++j) out[(i - r0) * stride + (j - c0)] = similarity(i, j);
        return;
    }
    const Views choices = Views(b_.values()).subspan(c0, c1 - c0);
    std::vector<std::int64_t> distances;
    std::vector<std::size_t> counts_b;
    if (config_.kind == ScorerKind::levenshtein_similarity) {
        distances.resize(c1 - c0);
        counts_b.reserve(c1 - c0);
        for (std::string_view choice : choices) counts_b.push_back(utf8::count_chars(choice));
    }
    for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i) {
        double* row = out + (i - r0) * stride;
        const Views query = Views(a_.values()).subspan(i, 1);
        if (config_.kind == ScorerKind::jaro_winkler_similarity) {
            jaro_winkler_tile(query, choices, row, stride);
        } else {
            levenshtein_tile(query, choices, distances.data(), distances.size(), kUnbounded);
            const std::size_t count_a = utf8::count_chars(query[0]);
            for (std::size_t j = 0; j < distances.size(); ++j)
                row[j] = levenshtein_similarity_of(distances[j], count_a, counts_b[j]);
        }
        const bool null_row = a_.is_null(i);
        if (null_row || b_.has_nulls())
            for (std::size_t j = c0; j < c1; ++j)
                if (null_row || b_.is_null(j)) row[j - c0] = kNullSimilarity;
    }
}

void PairScorer::distance_block(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1, std::int64_t* out,
                                std::size_t stride, std::int64_t max_distance, const ChunkContext& context) const {
    for (std::size_t i = r0; i < r1 && !context.stop_requested(); ++i) {
        std::int64_t* row = out + (i - r0) * stride;
        if (config_.kind == ScorerKind::levenshtein_distance) {
            levenshtein_tile(Views(a_.values()).subspan(i, 1), Views(b_.values()).subspan(c0, c1 - c0), row, stride,
                             max_distance);
        } else {
            for (std::size_t j = c0; j < c1; ++j) row[j - c0] = distance(i, j, max_distance);
        }
        const bool null_row = a_.is_null(i);
        if (null_row || b_.has_nulls())
            for (std::size_t j = c0; j < c1; ++j)
                if (null_row || b_.is_null(j)) row[j - c0] = kNullDistance;
    }
}

}  // namespace vorn::collection
