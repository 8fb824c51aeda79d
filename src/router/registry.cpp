#include "router/registry.hpp"

#include <algorithm>

#include "algo/bm25.hpp"
#include "algo/common_affix.hpp"
#include "algo/damerau_levenshtein.hpp"
#include "algo/fuzz_ratios.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lcs_seq.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/osa.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::registry {

namespace {

constexpr InvalidArgument kNotASimilarity{"a distance has no similarity"};

using Points = std::u32string_view;

// Counted from the largest distance minus a similarity.
template <class Similarity>
Counted from_similarity(Points x, Points y, Similarity similarity) {
    const std::size_t maximum = std::max(x.size(), y.size());
    return {maximum - similarity(x, y), maximum};
}

// On UTF-8 texts or on prepared ones: every ratio takes both.
template <class Text>
double fuzz_ratio(Measure measure, const Text& a, const Text& b, double cutoff) {
    namespace fuzz = algo::fuzz;
    switch (measure) {
        case Measure::fuzz_ratio: return fuzz::ratio(a, b, cutoff);
        case Measure::fuzz_partial_ratio: return fuzz::partial_ratio(a, b, cutoff);
        case Measure::fuzz_token_sort_ratio: return fuzz::token_sort_ratio(a, b, cutoff);
        case Measure::fuzz_token_set_ratio: return fuzz::token_set_ratio(a, b, cutoff);
        case Measure::fuzz_token_ratio: return fuzz::token_ratio(a, b, cutoff);
        case Measure::fuzz_partial_token_sort_ratio: return fuzz::partial_token_sort_ratio(a, b, cutoff);
        case Measure::fuzz_partial_token_set_ratio: return fuzz::partial_token_set_ratio(a, b, cutoff);
        case Measure::fuzz_partial_token_ratio: return fuzz::partial_token_ratio(a, b, cutoff);
        case Measure::fuzz_wratio: return fuzz::wratio(a, b, cutoff);
        default: return fuzz::qratio(a, b, cutoff);
    }
}

}  // namespace

Expected<Counted, InvalidArgument> count_edits(Measure measure, std::string_view a, std::string_view b,
                                               const Options& options) {
    if (counts_utf8(measure))
        return Counted{algo::levenshtein_weighted_distance(a, b, options.weights),
                       algo::levenshtein_maximum(utf8::count_chars(a), utf8::count_chars(b), options.weights)};
    const std::u32string first = text::decode_code_points(a), second = text::decode_code_points(b);
    return count_edits(measure, Points(first), Points(second), options);
}

Expected<Counted, InvalidArgument> count_edits(Measure measure, Points x, Points y, const Options& options) {
    const std::size_t longest = std::max(x.size(), y.size());
    switch (measure) {
        case Measure::indel_edits:
        case Measure::indel_normalized: return Counted{algo::indel_distance(x, y), x.size() + y.size()};
        case Measure::lcs_seq_edits:
        case Measure::lcs_seq_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::lcs_seq_similarity(p, q); });
        case Measure::osa_edits:
        case Measure::osa_normalized: return Counted{algo::osa_distance(x, y), longest};
        case Measure::damerau_levenshtein_edits:
        case Measure::damerau_levenshtein_normalized: return Counted{algo::damerau_levenshtein_distance(x, y), longest};
        case Measure::prefix_edits:
        case Measure::prefix_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::common_prefix_length(p, q); });
        case Measure::postfix_edits:
        case Measure::postfix_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::common_suffix_length(p, q); });
        default: {  // Hamming: positions that differ, plus the length difference when padded
            if (!options.pad && x.size() != y.size()) return kUnequalSequences;
            const std::size_t common = std::min(x.size(), y.size());
            std::uint64_t distance = longest - common;
            for (std::size_t i = 0; i < common; ++i) distance += x[i] != y[i];
            return Counted{distance, longest};
        }
    }
}

double rate(Measure measure, std::string_view a, std::string_view b, const Options& options) {
    if (measure == Measure::jaro_plain || measure == Measure::jaro_normalized) return algo::jaro_similarity(a, b);
    return algo::winkler_similarity(a, b, options.prefix_weight);
}

double rapidfuzz_similarity(Measure measure, std::string_view a, std::string_view b, double score_cutoff,
                            const Options& options) {
    double score = 0;
    if (measure <= Measure::fuzz_qratio) return fuzz_ratio(measure, a, b, score_cutoff);
    if (measure == Measure::jaro_plain || measure == Measure::jaro_winkler_plain) {
        score = rate(measure, a, b, options);
    } else if (measure == Measure::jaro_normalized || measure == Measure::jaro_winkler_normalized) {
        score = normalized_from_rate(rate(measure, a, b, options));
    } else {
        const auto count = count_edits(measure, a, b, options);
        if (!count) return 0.0;
        score = normalized_similarity(*count);
    }
    return score >= score_cutoff ? score : 0.0;
}

std::uint64_t rapidfuzz_distance(Measure measure, std::string_view a, std::string_view b, const Options& options) {
    const auto count = count_edits(measure, a, b, options);
    return count ? count->distance : std::max(utf8::count_chars(a), utf8::count_chars(b));
}

double fuzz_similarity(Measure measure, const algo::fuzz::PreparedText& a, const algo::fuzz::PreparedText& b,
                       double score_cutoff) {
    return fuzz_ratio(measure, a, b, score_cutoff);
}

Expected<double, InvalidArgument> similarity(Measure measure, std::uint64_t size, std::uint64_t num_hashes,
                                             std::string_view a, std::string_view b) {
    switch (measure) {
        case Measure::levenshtein_similarity: return algo::levenshtein_similarity(a, b);
        case Measure::jaro_winkler_similarity: return algo::jaro_winkler_similarity(a, b);
        case Measure::hamming_similarity: return algo::hamming_similarity(a, b);
        case Measure::jaccard_similarity: return algo::jaccard_similarity(a, b, size);
        case Measure::jaccard_word_similarity: return algo::jaccard_word_similarity(a, b);
        case Measure::minhash_similarity: return algo::minhash_similarity(a, b, size, num_hashes);
        case Measure::simhash_similarity: return algo::simhash_similarity(a, b, size);
        case Measure::bm25_similarity: return algo::bm25_similarity(a, b);
        case Measure::tfidf_similarity: return algo::tfidf_similarity(a, b);
        default: break;  // a distance, or a RapidFuzz-compatible measure (rapidfuzz_similarity)
    }
    return kNotASimilarity;
}

}  // namespace vorn::registry
