// The router's choice of similarity algorithm, its name table and dispatch.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "error/vorn_error.hpp"
#include "router/registry.hpp"

namespace vorn::router {

// An algorithm of the registry with its sizes: those the entry fixes, or
// for a parametrised variant (jaccard_similarity, minhash_similarity,
// simhash_similarity) those given.
struct Algorithm {
    const registry::Entry* entry;
    std::uint64_t size;
    std::uint64_t num_hashes;

    // An entry with its own sizes.
    static constexpr Algorithm of(const registry::Entry& entry) { return {&entry, entry.size, entry.num_hashes}; }
    // The named function with its own sizes, e.g. of("jaro_winkler_similarity").
    static consteval Algorithm of(std::string_view function) { return of(registry::entry(function)); }
    // An entry with the sizes given.
    static constexpr Algorithm sized(const registry::Entry& entry, std::uint64_t size, std::uint64_t num_hashes) {
        return {&entry, size, num_hashes};
    }
};

// The registry's router names select an algorithm; matching is byte for
// byte. The parametrised variants have no name.
std::optional<Algorithm> parse_algo(std::string_view name) noexcept;

// The name reported under "algorithm" in a comparison result (the entry's
// report name). The default MinHash and SimHash variants report the same
// name as the parametrised ones.
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
