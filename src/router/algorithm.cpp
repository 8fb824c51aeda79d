#include "router/algorithm.hpp"

#include <array>
#include <utility>

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"

namespace vorn::router {
namespace {

using Kind = Algorithm::Kind;

constexpr std::array<std::pair<std::string_view, Kind>, 10> kNamedAlgorithms{{
    {"levenshtein", Kind::Levenshtein},
    {"jaro_winkler", Kind::JaroWinkler},
    {"hamming", Kind::Hamming},
    {"jaccard_bigram", Kind::JaccardBigram},
    {"jaccard_trigram", Kind::JaccardTrigram},
    {"jaccard_word", Kind::JaccardWord},
    {"minhash_default", Kind::MinHashDefault},
    {"simhash_default", Kind::SimHashDefault},
    {"bm25", Kind::Bm25},
    {"tfidf", Kind::TfIdf},
}};

constexpr std::uint64_t kMinHashDefaultShingle = 3;
constexpr std::uint64_t kMinHashDefaultHashes = 128;
constexpr std::uint64_t kSimHashDefaultShingle = 4;

using Outcome = Expected<AlgorithmScore, VornError>;

Outcome scored(double score, const Algorithm& algorithm) { return AlgorithmScore{score, report_name(algorithm)}; }

// The free functions reject a zero size with an argument error; inside the
// router that becomes an algorithm error carrying the same text.
Outcome scored(const Expected<double, InvalidArgument>& score, const Algorithm& algorithm) {
    if (!score) return VornError(VornError::Kind::AlgorithmError, std::string(score.error().message));
    return scored(*score, algorithm);
}

}  // namespace

std::optional<Algorithm> parse_algo(std::string_view name) noexcept {
    for (const auto& [accepted, kind] : kNamedAlgorithms) {
        if (name == accepted) return Algorithm{kind};
    }
    return std::nullopt;
}

std::string_view report_name(const Algorithm& algorithm) noexcept {
    switch (algorithm.kind) {
        case Kind::Levenshtein: return "levenshtein";
        case Kind::JaroWinkler: return "jaro_winkler";
        case Kind::Hamming: return "hamming";
        case Kind::Jaccard: return "jaccard";
        case Kind::JaccardBigram: return "jaccard_bigram";
        case Kind::JaccardTrigram: return "jaccard_trigram";
        case Kind::JaccardWord: return "jaccard_word";
        case Kind::MinHash:
        case Kind::MinHashDefault: return "minhash";
        case Kind::SimHash:
        case Kind::SimHashDefault: return "simhash";
        case Kind::Bm25: return "bm25";
        case Kind::TfIdf: return "tfidf";
    }
    return {};
}

Outcome run_algorithm(const Algorithm& algorithm, std::string_view a, std::string_view b) {
    switch (algorithm.kind) {
        case Kind::Levenshtein: return scored(algo::levenshtein_similarity(a, b), algorithm);
        case Kind::JaroWinkler: return scored(algo::jaro_winkler_similarity(a, b), algorithm);
        case Kind::Hamming: {
            const auto score = algo::hamming_similarity(a, b);
            // Not the free functions' wording: the router's message is fixed by the public contract.
            if (!score) return VornError(VornError::Kind::AlgorithmError, "Hamming requires equal-length strings");
            return scored(*score, algorithm);
        }
        case Kind::Jaccard: return scored(algo::jaccard_similarity(a, b, algorithm.first), algorithm);
        case Kind::JaccardBigram: return scored(algo::jaccard_similarity(a, b, 2), algorithm);
        case Kind::JaccardTrigram: return scored(algo::jaccard_similarity(a, b, 3), algorithm);
        case Kind::JaccardWord: return scored(algo::jaccard_word_similarity(a, b), algorithm);
        case Kind::MinHash: return scored(algo::minhash_similarity(a, b, algorithm.first, algorithm.second), algorithm);
        case Kind::MinHashDefault:
            return scored(algo::minhash_similarity(a, b, kMinHashDefaultShingle, kMinHashDefaultHashes), algorithm);
        case Kind::SimHash: return scored(algo::simhash_similarity(a, b, algorithm.first), algorithm);
        case Kind::SimHashDefault: return scored(algo::simhash_similarity(a, b, kSimHashDefaultShingle), algorithm);
        case Kind::Bm25: return scored(algo::bm25_similarity(a, b), algorithm);
        case Kind::TfIdf: return scored(algo::tfidf_similarity(a, b), algorithm);
    }
    return VornError(VornError::Kind::AlgorithmError, "unknown algorithm variant");
}

}  // namespace vorn::router
