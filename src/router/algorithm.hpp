// The router's choice of similarity algorithm, its name table and dispatch.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::router {

struct Algorithm {
    enum class Kind : std::uint8_t {
        Levenshtein,
        JaroWinkler,
        Hamming,
        Jaccard,  // n in `first`
        JaccardBigram,
        JaccardTrigram,
        JaccardWord,
        MinHash,  // shingle size in `first`, number of hashes in `second`
        MinHashDefault,
        SimHash,  // shingle size in `first`
        SimHashDefault,
        Bm25,
        TfIdf,
    };

    Kind kind;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
};

// Exactly ten names select an algorithm; matching is byte for byte. The
// parametrised variants have no name.
std::optional<Algorithm> parse_algo(std::string_view name) noexcept;

// The name reported under "algorithm" in a comparison result. The default
// MinHash and SimHash variants report the same name as the parametrised ones.
std::string_view report_name(const Algorithm& algorithm) noexcept;

struct AlgorithmScore {
    double score;
    std::string_view algorithm;  // a report name, static storage
};

// Scores a against b (in that order; BM25 takes a as the query). Fails only
// for Hamming on texts of different character counts, and for a
// parametrised variant carrying a zero size.
Expected<AlgorithmScore, VornError> run_algorithm(const Algorithm& algorithm, std::string_view a, std::string_view b);

}  // namespace vorn::router
