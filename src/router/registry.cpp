#include "router/registry.hpp"

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"

namespace vorn::registry {

namespace {

constexpr InvalidArgument kNotASimilarity{"a distance has no similarity"};

}  // namespace

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
