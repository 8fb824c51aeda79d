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

// A counted metric's distance and the largest distance its lengths allow.
struct Counted {
    std::uint64_t distance;
    std::uint64_t maximum;
};

using Points = std::u32string_view;

// Counted from the largest distance minus a similarity.
template <class Similarity>
Counted from_similarity(Points x, Points y, Similarity similarity) {
    const std::size_t maximum = std::max(x.size(), y.size());
    return {maximum - similarity(x, y), maximum};
}

Counted counted(Measure measure, std::string_view a, std::string_view b) {
    if (measure == Measure::levenshtein_edits || measure == Measure::levenshtein_normalized) {
        const algo::LevenshteinWeights unit;
        return {algo::levenshtein_weighted_distance(a, b, unit),
                algo::levenshtein_maximum(utf8::count_chars(a), utf8::count_chars(b), unit)};
    }
    const std::u32string first = text::decode_code_points(a), second = text::decode_code_points(b);
    const Points x(first), y(second);
    const std::size_t longest = std::max(x.size(), y.size());
    switch (measure) {
        case Measure::indel_edits:
        case Measure::indel_normalized: return {algo::indel_distance(x, y), x.size() + y.size()};
        case Measure::lcs_seq_edits:
        case Measure::lcs_seq_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::lcs_seq_similarity(p, q); });
        case Measure::osa_edits:
        case Measure::osa_normalized: return {algo::osa_distance(x, y), longest};
        case Measure::damerau_levenshtein_edits:
        case Measure::damerau_levenshtein_normalized: return {algo::damerau_levenshtein_distance(x, y), longest};
        case Measure::prefix_edits:
        case Measure::prefix_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::common_prefix_length(p, q); });
        case Measure::postfix_edits:
        case Measure::postfix_normalized:
            return from_similarity(x, y, [](Points p, Points q) { return algo::common_suffix_length(p, q); });
        default: {  // Hamming, padded
            const std::size_t common = std::min(x.size(), y.size());
            std::uint64_t distance = longest - common;
            for (std::size_t i = 0; i < common; ++i) distance += x[i] != y[i];
            return {distance, longest};
        }
    }
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

// RapidFuzz's default JaroWinkler prefix weight.
constexpr double kPrefixWeight = 0.1;

}  // namespace

double rapidfuzz_similarity(Measure measure, std::string_view a, std::string_view b, double score_cutoff) {
    double score = 0;
    if (measure <= Measure::fuzz_qratio) return fuzz_ratio(measure, a, b, score_cutoff);
    if (measure == Measure::jaro_plain) {
        score = algo::jaro_similarity(a, b);
    } else if (measure == Measure::jaro_winkler_plain) {
        score = algo::winkler_similarity(a, b, kPrefixWeight);
    } else if (measure == Measure::jaro_normalized || measure == Measure::jaro_winkler_normalized) {
        // Through the distance, as RapidFuzz rounds it.
        const double similarity = measure == Measure::jaro_normalized ? algo::jaro_similarity(a, b)
                                                                      : algo::winkler_similarity(a, b, kPrefixWeight);
        score = 1.0 - (1.0 - similarity);
    } else {
        const Counted count = counted(measure, a, b);
        return counted_similarity(count.distance, count.maximum, score_cutoff);
    }
    return score >= score_cutoff ? score : 0.0;
}

double fuzz_similarity(Measure measure, const algo::fuzz::PreparedText& a, const algo::fuzz::PreparedText& b,
                       double score_cutoff) {
    return fuzz_ratio(measure, a, b, score_cutoff);
}

double counted_similarity(std::uint64_t distance, std::uint64_t maximum, double score_cutoff) noexcept {
    const double normalized_distance =
        maximum == 0 ? 0.0 : static_cast<double>(distance) / static_cast<double>(maximum);
    const double score = 1.0 - normalized_distance;
    return score >= score_cutoff ? score : 0.0;
}

std::uint64_t rapidfuzz_distance(Measure measure, std::string_view a, std::string_view b) {
    return counted(measure, a, b).distance;
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
        case Measure::levenshtein_distance:
        case Measure::hamming_distance: break;
    }
    return kNotASimilarity;
}

}  // namespace vorn::registry
