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

namespace vorn::algo::fuzz {
class PreparedText;
}

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
    // vornkit.fuzz's ratios, in [0, 100], taking the caller's score cutoff.
    fuzz_ratio,
    fuzz_partial_ratio,
    fuzz_token_sort_ratio,
    fuzz_token_set_ratio,
    fuzz_token_ratio,
    fuzz_partial_token_sort_ratio,
    fuzz_partial_token_set_ratio,
    fuzz_partial_token_ratio,
    fuzz_wratio,
    fuzz_qratio,
    // vornkit.distance's metrics counted in edits: the distance...
    levenshtein_edits,
    indel_edits,
    lcs_seq_edits,
    osa_edits,
    damerau_levenshtein_edits,
    hamming_edits,  // padded: unequal lengths count their difference
    prefix_edits,
    postfix_edits,
    // ...and 1 - distance / largest possible distance, in [0, 1].
    levenshtein_normalized,
    indel_normalized,
    lcs_seq_normalized,
    osa_normalized,
    damerau_levenshtein_normalized,
    hamming_normalized,
    prefix_normalized,
    postfix_normalized,
    jaro_normalized,          // 1 - (1 - jaro), as that function rounds it
    jaro_winkler_normalized,  // prefix weight 0.1
    jaro_plain,               // Jaro.similarity
    jaro_winkler_plain,       // JaroWinkler.similarity
};

// Distances are counts, lower is better; everything else is a similarity,
// higher is better.
constexpr bool is_distance(Measure measure) noexcept {
    return measure == Measure::levenshtein_distance || measure == Measure::hamming_distance ||
           (measure >= Measure::levenshtein_edits && measure <= Measure::postfix_edits);
}

// The RapidFuzz-compatible measures of vornkit.fuzz and vornkit.distance,
// scored by rapidfuzz_similarity / rapidfuzz_distance.
constexpr bool is_rapidfuzz(Measure measure) noexcept { return measure >= Measure::fuzz_ratio; }

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
    std::array<Size, 2> given;  // sizes taken from the caller, in parameter order
    std::uint64_t size;         // sizes the function fixes itself
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
    {"minhash_similarity_default",
     Measure::minhash_similarity,
     {},
     kMinHashShingleSize,
     kMinHashNumHashes,
     "minhash_default",
     "minhash"},
    {"simhash_similarity", Measure::simhash_similarity, {Size::shingle_size}, 0, 0, "", "simhash"},
    {"simhash_similarity_default",
     Measure::simhash_similarity,
     {},
     kSimHashShingleSize,
     0,
     "simhash_default",
     "simhash"},
    {"bm25_similarity", Measure::bm25_similarity, {}, 0, 0, "bm25", "bm25"},
    {"tfidf_similarity", Measure::tfidf_similarity, {}, 0, 0, "tfidf", "tfidf"},
// vornkit.fuzz's and vornkit.distance's functions are vornkit._native's
// objects; the metric classes hold the same objects as attributes.
#define VORN_RAPIDFUZZ(function, measure) \
    { function, Measure::measure, {}, 0, 0, "", "", "vornkit._native" }
    VORN_RAPIDFUZZ("ratio", fuzz_ratio),
    VORN_RAPIDFUZZ("partial_ratio", fuzz_partial_ratio),
    VORN_RAPIDFUZZ("token_sort_ratio", fuzz_token_sort_ratio),
    VORN_RAPIDFUZZ("token_set_ratio", fuzz_token_set_ratio),
    VORN_RAPIDFUZZ("token_ratio", fuzz_token_ratio),
    VORN_RAPIDFUZZ("partial_token_sort_ratio", fuzz_partial_token_sort_ratio),
    VORN_RAPIDFUZZ("partial_token_set_ratio", fuzz_partial_token_set_ratio),
    VORN_RAPIDFUZZ("partial_token_ratio", fuzz_partial_token_ratio),
    VORN_RAPIDFUZZ("WRatio", fuzz_wratio),
    VORN_RAPIDFUZZ("QRatio", fuzz_qratio),
#define VORN_COUNTED(prefix, metric)                    \
    VORN_RAPIDFUZZ(prefix "_distance", metric##_edits), \
        VORN_RAPIDFUZZ(prefix "_normalized_similarity", metric##_normalized)
    VORN_COUNTED("levenshtein", levenshtein),
    VORN_COUNTED("indel", indel),
    VORN_COUNTED("lcs_seq", lcs_seq),
    VORN_COUNTED("osa", osa),
    VORN_COUNTED("damerau_levenshtein", damerau_levenshtein),
    VORN_COUNTED("hamming", hamming),
    VORN_COUNTED("prefix", prefix),
    VORN_COUNTED("postfix", postfix),
#undef VORN_COUNTED
    VORN_RAPIDFUZZ("jaro_normalized_similarity", jaro_normalized),
    VORN_RAPIDFUZZ("jaro_winkler_normalized_similarity", jaro_winkler_normalized),
    VORN_RAPIDFUZZ("jaro_similarity", jaro_plain),
    VORN_RAPIDFUZZ("jaro_winkler_similarity", jaro_winkler_plain),
#undef VORN_RAPIDFUZZ
};

inline constexpr std::span<const Entry> algorithms() noexcept { return kAlgorithms; }

// The entry of one of vorn's functions by name; a name that is not in the table does not
// compile where this is evaluated at compile time.
consteval const Entry& entry(std::string_view function) {
    for (const Entry& candidate : kAlgorithms)
        if (candidate.module == "vorn" && candidate.function == function) return candidate;
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

// A RapidFuzz-compatible similarity of one pair, exactly what its vornkit
// function returns with that score_cutoff (0 for none).
double rapidfuzz_similarity(Measure measure, std::string_view a, std::string_view b, double score_cutoff);
// A vornkit.fuzz ratio (fuzz_ratio to fuzz_qratio) of two texts prepared
// once each: what rapidfuzz_similarity returns for the texts.
double fuzz_similarity(Measure measure, const algo::fuzz::PreparedText& a, const algo::fuzz::PreparedText& b,
                       double score_cutoff);
// A counted metric's normalized similarity from its distance and the
// largest distance the lengths allow, with the score cutoff applied.
double counted_similarity(std::uint64_t distance, std::uint64_t maximum, double score_cutoff) noexcept;
// A RapidFuzz-compatible distance of one pair, without a cutoff.
std::uint64_t rapidfuzz_distance(Measure measure, std::string_view a, std::string_view b);

}  // namespace vorn::registry
