// The router record, its tiered comparison flow and intent-driven
// comparison. A record is built for one comparison and dropped after it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "error/vorn_error.hpp"
#include "preprocess/preprocessor.hpp"
#include "router/algorithm.hpp"
#include "router/tiers.hpp"

namespace vorn::router {

// A comparator consulted when no tier settles a pair: (score, data).
using FallbackFn = std::function<std::pair<double, std::string>(std::string_view, std::string_view)>;

struct VornFlow {
    std::optional<Tier1> tier1;
    std::optional<Tier2> tier2;
    std::optional<preprocess::Preprocessor> preprocessor;  // applied to both texts first
    FallbackFn fallback;                                   // empty: none
    bool auto_route = false;                               // compare hands every pair to the "auto" intent
};

struct ComparisonResult {
    double score;
    std::uint64_t tier;          // 0 intent, 1 or 2 a tier, 3 the fallback
    std::string_view algorithm;  // a report name or "fallback", static storage
    bool fallback_called = false;
    std::optional<std::string> fallback_data;
};

enum class Intent : std::uint8_t { Names, Typos, Codes, Documents, Dedup, Auto };

// The intents by name and the algorithm each runs; "auto" (no algorithm
// here) chooses one per pair with auto_algorithm.
struct IntentEntry {
    std::string_view name;
    Intent intent;
    const registry::Entry* algorithm;
};

inline constexpr IntentEntry kIntents[] = {
    {"names", Intent::Names, &registry::entry("jaro_winkler_similarity")},
    {"typos", Intent::Typos, &registry::entry("levenshtein_similarity")},
    {"codes", Intent::Codes, &registry::entry("hamming_similarity")},
    {"documents", Intent::Documents, &registry::entry("bm25_similarity")},
    {"dedup", Intent::Dedup, &registry::entry("simhash_similarity_default")},
    {"deduplication", Intent::Dedup, &registry::entry("simhash_similarity_default")},
    {"auto", Intent::Auto, nullptr},
};

// The names of kIntents; matching is byte for byte.
std::optional<Intent> parse_intent(std::string_view name) noexcept;

// The algorithm "auto" picks for two prepared texts: Hamming for equal
// character counts within 20 bytes, Jaro-Winkler up to 50 bytes, BM25 up to
// 500 bytes, SimHash beyond.
Algorithm auto_algorithm(std::string_view a, std::string_view b) noexcept;

// The algorithm an intent runs on two prepared texts: its entry's in
// kIntents, or auto_algorithm's choice.
Algorithm intent_algorithm(Intent intent, std::string_view a, std::string_view b) noexcept;

Expected<ComparisonResult, VornError> compare(const VornFlow& router, std::string_view a, std::string_view b);

// Runs the intent's algorithm once on the prepared texts; only the
// router's preprocessor is consulted.
Expected<ComparisonResult, VornError> compare_with_intent(const VornFlow& router, Intent intent, std::string_view a,
                                                          std::string_view b);

}  // namespace vorn::router
