// The one list of vorn's pairwise algorithms. Whatever names an algorithm
// or needs its sizes reads this table: the router's names and reports, the
// collection scorers, vornkit's scorer lookup and the scorer names of its
// command line and record linkage.
//
// Adding an algorithm: a Measure (with its case in similarity() when it is
// a similarity), then one Entry per public function. A scorer implemented in
// vornkit registers the same way, with `module` naming its Python module.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::registry {

// The core measures; a public function is a measure with its sizes fixed
// or taken from the caller.
enum class Measure : std::uint8_t {
    levenshtein_distance,
    levenshtein_similarity,
    jaro_winkler_similarity,
    hamming_distance,
    hamming_similarity,
    jaccard_similarity,  // character n-grams, n = size
    jaccard_word_similarity,
    minhash_similarity,  // shingle size = size, num_hashes
    simhash_similarity,  // shingle size = size
    bm25_similarity,     // directional: the first text is the query
    tfidf_similarity,
};

// Distances are counts, lower is better; everything else is a similarity,
// higher is better.
constexpr bool is_distance(Measure measure) noexcept {
    return measure == Measure::levenshtein_distance || measure == Measure::hamming_distance;
}

// Measures over windows of characters (n-grams, shingles), whose size must
// not be 0.
constexpr bool is_windowed(Measure measure) noexcept {
    return measure == Measure::jaccard_similarity || measure == Measure::minhash_similarity ||
           measure == Measure::simhash_similarity;
}

// A size the caller gives, named as the public functions name it.
enum class Size : std::uint8_t { none, n, shingle_size, num_hashes };

constexpr std::string_view size_name(Size size) noexcept {
    switch (size) {
        case Size::none: return "";
        case Size::n: return "n";
        case Size::shingle_size: return "shingle_size";
        case Size::num_hashes: return "num_hashes";
    }
    return "";
}

// The sizes of the *_default functions and of vornkit's fingerprint defaults.
inline constexpr std::uint64_t kMinHashShingleSize = 3;
inline constexpr std::uint64_t kMinHashNumHashes = 128;
inline constexpr std::uint64_t kSimHashShingleSize = 4;

struct Entry {
    std::string_view function;  // the public function's name (NUL-terminated literal)
    Measure measure;
    std::array<Size, 2> given;     // sizes taken from the caller, in parameter order
    std::uint64_t size;            // sizes the function fixes itself
    std::uint64_t num_hashes;
    std::string_view router_name;  // selects it in the router; empty: not selectable
    std::string_view report_name;  // "algorithm" of a router result; empty: not routable
    std::string_view module = "vorn";
};

inline constexpr Entry kAlgorithms[] = {
    {"levenshtein_distance", Measure::levenshtein_distance, {}, 0, 0, "", ""},
    {"levenshtein_similarity", Measure::levenshtein_similarity, {}, 0, 0, "levenshtein", "levenshtein"},
    {"jaro_winkler_similarity", Measure::jaro_winkler_similarity, {}, 0, 0, "jaro_winkler", "jaro_winkler"},
    {"hamming_distance", Measure::hamming_distance, {}, 0, 0, "", ""},
    {"hamming_similarity", Measure::hamming_similarity, {}, 0, 0, "hamming", "hamming"},
    {"jaccard_similarity", Measure::jaccard_similarity, {Size::n}, 0, 0, "", "jaccard"},
    {"jaccard_bigram_similarity", Measure::jaccard_similarity, {}, 2, 0, "jaccard_bigram", "jaccard_bigram"},
    {"jaccard_trigram_similarity", Measure::jaccard_similarity, {}, 3, 0, "jaccard_trigram", "jaccard_trigram"},
    {"jaccard_word_similarity", Measure::jaccard_word_similarity, {}, 0, 0, "jaccard_word", "jaccard_word"},
    {"minhash_similarity", Measure::minhash_similarity, {Size::shingle_size, Size::num_hashes}, 0, 0, "", "minhash"},
    {"minhash_similarity_default", Measure::minhash_similarity, {}, kMinHashShingleSize, kMinHashNumHashes,
     "minhash_default", "minhash"},
    {"simhash_similarity", Measure::simhash_similarity, {Size::shingle_size}, 0, 0, "", "simhash"},
    {"simhash_similarity_default", Measure::simhash_similarity, {}, kSimHashShingleSize, 0, "simhash_default",
     "simhash"},
    {"bm25_similarity", Measure::bm25_similarity, {}, 0, 0, "bm25", "bm25"},
    {"tfidf_similarity", Measure::tfidf_similarity, {}, 0, 0, "tfidf", "tfidf"},
};

inline constexpr std::span<const Entry> algorithms() noexcept { return kAlgorithms; }

// The entry of a function by name; a name that is not in the table does not
// compile where this is evaluated at compile time.
consteval const Entry& entry(std::string_view function) {
    for (const Entry& candidate : kAlgorithms)
        if (candidate.function == function) return candidate;
    throw "no such algorithm";
}

// The entry selected by a router name, or null; matching is byte for byte.
constexpr const Entry* find_router_name(std::string_view name) noexcept {
    if (name.empty()) return nullptr;
    for (const Entry& candidate : kAlgorithms)
        if (candidate.router_name == name) return &candidate;
    return nullptr;
}

// The score of a similarity measure for one pair, with its sizes: exactly
// the value of the algorithm's own function, or that function's refusal (a
// size of 0, Hamming over texts of different lengths). A distance measure
// is refused too.
Expected<double, InvalidArgument> similarity(Measure measure, std::uint64_t size, std::uint64_t num_hashes,
                                             std::string_view a, std::string_view b);

}  // namespace vorn::registry
