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

#include "algo/levenshtein.hpp"
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

// The option a RapidFuzz-compatible metric takes besides its cutoff, and
// the values a call gives it (RapidFuzz's defaults otherwise).
enum class Option : std::uint8_t { none, weights, prefix_weight, pad };

struct Options {
    algo::LevenshteinWeights weights;  // Levenshtein: (insertion, deletion, substitution)
    double prefix_weight = 0.1;        // JaroWinkler
    bool pad = true;                   // Hamming: unequal lengths count their difference

    // A kernel specialised for a measure (a cdist tile) serves only these.
    constexpr bool are_defaults() const noexcept {
        return weights.insertion == 1 && weights.deletion == 1 && weights.substitution == 1 && prefix_weight == 0.1 &&
               pad;
    }
};

constexpr Option option_of(Measure measure) noexcept {
    switch (measure) {
        case Measure::levenshtein_edits:
        case Measure::levenshtein_normalized: return Option::weights;
        case Measure::jaro_winkler_normalized:
        case Measure::jaro_winkler_plain: return Option::prefix_weight;
        case Measure::hamming_edits:
        case Measure::hamming_normalized: return Option::pad;
        default: return Option::none;
    }
}

constexpr std::string_view option_name(Option option) noexcept {
    switch (option) {
        case Option::none: return "";
        case Option::weights: return "weights";
        case Option::prefix_weight: return "prefix_weight";
        case Option::pad: return "pad";
    }
    return "";
}

// The fuzz ratios score in [0, 100]; every other similarity in [0, 1].
constexpr double score_scale(Measure measure) noexcept {
    return measure >= Measure::fuzz_ratio && measure <= Measure::fuzz_qratio ? 100.0 : 1.0;
}

// RapidFuzz's scorers, each list read twice: here for the registry's
// entries, and by vornkit's bindings (vornkit/_native/fuzz_functions.cpp)
// for its functions.
//
// The fuzz ratios, as X(function, measure).
#define VORN_FUZZ_RATIOS(X)                                      \
    X("ratio", fuzz_ratio)                                       \
    X("partial_ratio", fuzz_partial_ratio)                       \
    X("token_sort_ratio", fuzz_token_sort_ratio)                 \
    X("token_set_ratio", fuzz_token_set_ratio)                   \
    X("token_ratio", fuzz_token_ratio)                           \
    X("partial_token_sort_ratio", fuzz_partial_token_sort_ratio) \
    X("partial_token_set_ratio", fuzz_partial_token_set_ratio)   \
    X("partial_token_ratio", fuzz_partial_token_ratio)           \
    X("WRatio", fuzz_wratio)                                     \
    X("QRatio", fuzz_qratio)
// The metrics counted in edits, as X(class, function prefix, measure
// stem): the stem's _edits measure is the distance, _normalized the
// normalized similarity.
#define VORN_COUNTED_METRICS(X)                                         \
    X("Levenshtein", "levenshtein", levenshtein)                        \
    X("Indel", "indel", indel)                                          \
    X("LCSseq", "lcs_seq", lcs_seq)                                     \
    X("OSA", "osa", osa)                                                \
    X("DamerauLevenshtein", "damerau_levenshtein", damerau_levenshtein) \
    X("Hamming", "hamming", hamming)                                    \
    X("Prefix", "prefix", prefix)                                       \
    X("Postfix", "postfix", postfix)
// The metrics rated as a similarity in [0, 1], as X(class, function
// prefix, measure stem): _plain is the similarity, _normalized the
// normalized similarity.
#define VORN_RATED_METRICS(X) \
    X("Jaro", "jaro", jaro)   \
    X("JaroWinkler", "jaro_winkler", jaro_winkler)

struct Entry {
    std::string_view function;  // the public function's name (NUL-terminated literal)
    Measure measure;
    std::array<Size, 2> given;  // sizes taken from the caller, in parameter order
    std::uint64_t size;         // sizes the function fixes itself
    std::uint64_t num_hashes;
    // The scorer's name on the command line and in record linkage; empty
    // for a function that needs sizes from its caller. vorn's similarities
    // go by their router names, RapidFuzz's scorers by their names in
    // rapidfuzz.fuzz and rapidfuzz.distance ("WRatio", "Levenshtein.distance").
    std::string_view name;
    std::string_view router_name;  // selects it in the router; empty: not selectable
    std::string_view report_name;  // "algorithm" of a router result; empty: not routable
    std::string_view module = "vorn";
};

inline constexpr Entry kAlgorithms[] = {
    {"levenshtein_distance", Measure::levenshtein_distance, {}, 0, 0, "levenshtein_distance", "", ""},
    {"levenshtein_similarity", Measure::levenshtein_similarity, {}, 0, 0, "levenshtein", "levenshtein", "levenshtein"},
    {"jaro_winkler_similarity",
     Measure::jaro_winkler_similarity,
     {},
     0,
     0,
     "jaro_winkler",
     "jaro_winkler",
     "jaro_winkler"},
    {"hamming_distance", Measure::hamming_distance, {}, 0, 0, "hamming_distance", "", ""},
    {"hamming_similarity", Measure::hamming_similarity, {}, 0, 0, "hamming", "hamming", "hamming"},
    {"jaccard_similarity", Measure::jaccard_similarity, {Size::n}, 0, 0, "", "", "jaccard"},
    {"jaccard_bigram_similarity",
     Measure::jaccard_similarity,
     {},
     2,
     0,
     "jaccard_bigram",
     "jaccard_bigram",
     "jaccard_bigram"},
    {"jaccard_trigram_similarity",
     Measure::jaccard_similarity,
     {},
     3,
     0,
     "jaccard_trigram",
     "jaccard_trigram",
     "jaccard_trigram"},
    {"jaccard_word_similarity",
     Measure::jaccard_word_similarity,
     {},
     0,
     0,
     "jaccard_word",
     "jaccard_word",
     "jaccard_word"},
    {"minhash_similarity",
     Measure::minhash_similarity,
     {Size::shingle_size, Size::num_hashes},
     0,
     0,
     "",
     "",
     "minhash"},
    {"minhash_similarity_default",
     Measure::minhash_similarity,
     {},
     kMinHashShingleSize,
     kMinHashNumHashes,
     "minhash_default",
     "minhash_default",
     "minhash"},
    {"simhash_similarity", Measure::simhash_similarity, {Size::shingle_size}, 0, 0, "", "", "simhash"},
    {"simhash_similarity_default",
     Measure::simhash_similarity,
     {},
     kSimHashShingleSize,
     0,
     "simhash_default",
     "simhash_default",
     "simhash"},
    {"bm25_similarity", Measure::bm25_similarity, {}, 0, 0, "bm25", "bm25", "bm25"},
    {"tfidf_similarity", Measure::tfidf_similarity, {}, 0, 0, "tfidf", "tfidf", "tfidf"},
// vornkit.fuzz's and vornkit.distance's functions are vornkit._native's
// objects; the metric classes hold the same objects as attributes.
#define VORN_RAPIDFUZZ(function, measure, name) {function, Measure::measure, {}, 0, 0, name, "", "", "vornkit._native"},
#define VORN_FUZZ_ENTRY(function, measure) VORN_RAPIDFUZZ(function, measure, function)
#define VORN_COUNTED_ENTRIES(metric, prefix, stem)                       \
    VORN_RAPIDFUZZ(prefix "_distance", stem##_edits, metric ".distance") \
    VORN_RAPIDFUZZ(prefix "_normalized_similarity", stem##_normalized, metric ".normalized_similarity")
#define VORN_RATED_ENTRIES(metric, prefix, stem)                                                        \
    VORN_RAPIDFUZZ(prefix "_normalized_similarity", stem##_normalized, metric ".normalized_similarity") \
    VORN_RAPIDFUZZ(prefix "_similarity", stem##_plain, metric ".similarity")
    // clang-format off
    VORN_FUZZ_RATIOS(VORN_FUZZ_ENTRY)
    VORN_COUNTED_METRICS(VORN_COUNTED_ENTRIES)
    VORN_RATED_METRICS(VORN_RATED_ENTRIES)
// clang-format on
#undef VORN_RATED_ENTRIES
#undef VORN_COUNTED_ENTRIES
#undef VORN_FUZZ_ENTRY
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

// A metric counted in edits: its distance, and the largest distance the
// lengths allow, from which RapidFuzz's four forms follow.
struct Counted {
    std::uint64_t distance;
    std::uint64_t maximum;
};

// The one normalisation of the counted metrics: a distance of 0 for two
// empty texts.
constexpr double normalized_distance(Counted counted) noexcept {
    return counted.maximum == 0 ? 0.0 : static_cast<double>(counted.distance) / static_cast<double>(counted.maximum);
}
constexpr double normalized_similarity(Counted counted) noexcept { return 1.0 - normalized_distance(counted); }

// Whether a counted measure reads the texts' UTF-8 (Levenshtein, on its
// bit-parallel kernels) rather than their code points.
constexpr bool counts_utf8(Measure measure) noexcept {
    return measure == Measure::levenshtein_edits || measure == Measure::levenshtein_normalized;
}

// The count of a counted measure (an _edits or _normalized one but Jaro's):
// over UTF-8 for every measure, over code points for those that do not
// count UTF-8. Refused: Hamming without padding over unequal lengths.
inline constexpr InvalidArgument kUnequalSequences{"Sequences are not the same length."};
Expected<Counted, InvalidArgument> count_edits(Measure measure, std::string_view a, std::string_view b,
                                               const Options& options);
Expected<Counted, InvalidArgument> count_edits(Measure measure, std::u32string_view x, std::u32string_view y,
                                               const Options& options);

// Jaro's or JaroWinkler's similarity of one pair (a _plain or _normalized
// measure of theirs).
double rate(Measure measure, std::string_view a, std::string_view b, const Options& options);

// RapidFuzz's normalized similarity of a rated metric, through the
// distance as RapidFuzz computes it (which changes the last bit for some
// pairs).
constexpr double normalized_from_rate(double similarity) noexcept { return 1.0 - (1.0 - similarity); }

// A RapidFuzz-compatible similarity of one pair, exactly what its vornkit
// function returns with that score_cutoff (0 for none) and options. A
// refused pair (see count_edits) scores 0.
double rapidfuzz_similarity(Measure measure, std::string_view a, std::string_view b, double score_cutoff,
                            const Options& options = {});
// A RapidFuzz-compatible distance of one pair, without a cutoff; a refused
// pair counts its longer length.
std::uint64_t rapidfuzz_distance(Measure measure, std::string_view a, std::string_view b, const Options& options = {});
// A vornkit.fuzz ratio (fuzz_ratio to fuzz_qratio) of two texts prepared
// once each: what rapidfuzz_similarity returns for the texts.
double fuzz_similarity(Measure measure, const algo::fuzz::PreparedText& a, const algo::fuzz::PreparedText& b,
                       double score_cutoff);
// A counted metric's normalized similarity, with the score cutoff applied.
constexpr double counted_similarity(Counted counted, double score_cutoff) noexcept {
    const double score = normalized_similarity(counted);
    return score >= score_cutoff ? score : 0.0;
}
// The count of an LCS-based measure (Indel, LCSseq) from the longest common
// subsequence of texts of len_a and len_b code points.
constexpr Counted count_from_lcs(Measure measure, std::uint64_t lcs, std::uint64_t len_a,
                                 std::uint64_t len_b) noexcept {
    if (measure == Measure::indel_edits || measure == Measure::indel_normalized)
        return {len_a + len_b - 2 * lcs, len_a + len_b};
    const std::uint64_t longest = len_a > len_b ? len_a : len_b;
    return {longest - lcs, longest};
}

}  // namespace vorn::registry
