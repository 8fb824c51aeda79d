// The router: dispatch of every algorithm variant against the algorithm
// functions themselves, name parsing with accepted and random names, and
// the tiered and intent-driven flows against their step-by-step rules.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "algo/bm25.hpp"
#include "algo/hamming.hpp"
#include "algo/jaccard.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "algo/tfidf.hpp"
#include "fuzz_input.hpp"
#include "router/algorithm.hpp"
#include "router/router.hpp"
#include "router/tiers.hpp"

namespace {

using namespace vorn::router;
using vorn::VornError;
using vorn::fuzz::in_unit_range;
using vorn::fuzz::same_bits;
using vorn::registry::Measure;
using namespace std::string_view_literals;

constexpr std::size_t kMaxChars = 700;

// The names the router accepts: the registry's router names.
constexpr std::size_t kRoutedCount = [] {
    std::size_t count = 0;
    for (const auto& entry : vorn::registry::kAlgorithms) count += !entry.router_name.empty();
    return count;
}();
constexpr auto kAlgorithmNames = [] {
    std::array<std::string_view, kRoutedCount> names{};
    std::size_t k = 0;
    for (const auto& entry : vorn::registry::kAlgorithms)
        if (!entry.router_name.empty()) names[k++] = entry.router_name;
    return names;
}();
constexpr auto kIntentNames = [] {
    std::array<std::string_view, std::size(kIntents)> names{};
    for (std::size_t k = 0; k < names.size(); ++k) names[k] = kIntents[k].name;
    return names;
}();
constexpr std::string_view kOperatorNames[] = {"gt", "greater_than", "lt", "less_than", "between"};
// Near misses that must be rejected.
constexpr std::string_view kRejectedNames[] = {
    "",   "Levenshtein", " bm25", "bm25 ", "jaccard", "minhash",   "simhash",   "jaro", "levenshtein_similarity",
    "GT", ">",           "gt ",   "Typos", "auto ",   "dedup\0"sv, "between\n",
};

template <class Names>
bool listed(const Names& names, std::string_view name) {
    for (std::string_view n : names) {
        if (n == name) return true;
    }
    return false;
}

// An accepted name, a near miss or carved bytes.
template <class Names>
std::string pick_name(vorn::fuzz::FuzzInput& input, const Names& accepted) {
    const std::uint8_t kind = input.byte();
    if (kind < 170) return std::string(accepted[input.byte() % std::size(accepted)]);
    if (kind < 220) return std::string(kRejectedNames[input.byte() % std::size(kRejectedNames)]);
    return input.text(16);
}

// Any routable entry; a parametrised one with sizes from the input (0 is
// reachable here, unlike through the names).
Algorithm pick_algorithm(vorn::fuzz::FuzzInput& input) {
    const auto entries = vorn::registry::algorithms();
    const vorn::registry::Entry* entry = &entries[input.byte() % entries.size()];
    while (entry->report_name.empty()) entry = &entries[(entry - entries.data() + 1) % entries.size()];
    const std::uint8_t p = input.byte();
    const std::uint64_t size = p < 200 ? p % 6 : p;
    const std::uint64_t num_hashes = input.byte() % 65;
    if (entry->given[0] == vorn::registry::Size::none) return Algorithm::sized(*entry, entry->size, entry->num_hashes);
    return Algorithm::sized(*entry, size, num_hashes);
}

// What run_algorithm must return, computed from the algorithm functions.
std::optional<double> direct_score(const Algorithm& algorithm, std::string_view a, std::string_view b) {
    auto value = [](const auto& expected) -> std::optional<double> {
        if (!expected) return std::nullopt;
        return *expected;
    };
    switch (algorithm.entry->measure) {
        case Measure::levenshtein_similarity: return vorn::algo::levenshtein_similarity(a, b);
        case Measure::jaro_winkler_similarity: return vorn::algo::jaro_winkler_similarity(a, b);
        case Measure::hamming_similarity: return value(vorn::algo::hamming_similarity(a, b));
        case Measure::jaccard_similarity: return value(vorn::algo::jaccard_similarity(a, b, algorithm.size));
        case Measure::jaccard_word_similarity: return vorn::algo::jaccard_word_similarity(a, b);
        case Measure::minhash_similarity:
            return value(vorn::algo::minhash_similarity(a, b, algorithm.size, algorithm.num_hashes));
        case Measure::simhash_similarity: return value(vorn::algo::simhash_similarity(a, b, algorithm.size));
        case Measure::bm25_similarity: return vorn::algo::bm25_similarity(a, b);
        case Measure::tfidf_similarity: return vorn::algo::tfidf_similarity(a, b);
        default: break;  // distances and the RapidFuzz-compatible measures are not routable
    }
    vorn::fuzz::fail(__FILE__, __LINE__, "not a routable measure");
}

void check_run(const Algorithm& algorithm, std::string_view a, std::string_view b) {
    const auto result = run_algorithm(algorithm, a, b);
    const std::optional<double> expected = direct_score(algorithm, a, b);
    FUZZ_CHECK(result.has_value() == expected.has_value());
    if (!result) {
        FUZZ_CHECK(result.error().kind() == VornError::Kind::AlgorithmError);
        if (algorithm.entry->measure == Measure::hamming_similarity) {
            FUZZ_CHECK(vorn::utf8::count_chars(a) != vorn::utf8::count_chars(b));
            FUZZ_CHECK(result.error().message() == "Hamming requires equal-length strings");
        } else {
            FUZZ_CHECK(algorithm.size == 0);
            FUZZ_CHECK(result.error().message() == vorn::kZeroWindow.message);
        }
        return;
    }
    FUZZ_CHECK(same_bits(result->score, *expected));
    FUZZ_CHECK(result->algorithm == algorithm.entry->report_name);
    FUZZ_CHECK(result->algorithm == report_name(algorithm));
    if (algorithm.entry->measure == Measure::minhash_similarity && algorithm.num_hashes == 0)
        FUZZ_CHECK(std::isnan(result->score));
    else FUZZ_CHECK(in_unit_range(result->score));
}

bool holds(const Threshold& t, double s) {
    switch (t.kind) {
        case Threshold::Kind::GreaterThan: return s > t.low;
        case Threshold::Kind::LessThan: return s < t.low;
        case Threshold::Kind::Between: return t.low <= s && s <= t.high;
    }
    return false;
}

void check_same(const vorn::Expected<ComparisonResult, VornError>& got,
                const vorn::Expected<AlgorithmScore, VornError>& scored, std::uint64_t tier) {
    FUZZ_CHECK(got.has_value());
    FUZZ_CHECK(same_bits(got->score, scored->score));
    FUZZ_CHECK(got->tier == tier);
    FUZZ_CHECK(got->algorithm == scored->algorithm);
    FUZZ_CHECK(!got->fallback_called && !got->fallback_data.has_value());
}

void check_error(const vorn::Expected<ComparisonResult, VornError>& got, const VornError& expected) {
    FUZZ_CHECK(!got.has_value());
    FUZZ_CHECK(got.error().kind() == expected.kind());
    FUZZ_CHECK(got.error().message() == expected.message());
}

void check_intent(const VornFlow& router, Intent intent, const std::string& a, const std::string& b,
                  std::string_view pa, std::string_view pb) {
    const auto got = compare_with_intent(router, intent, a, b);
    Algorithm algorithm = intent_algorithm(intent, pa, pb);
    if (intent == Intent::Auto) {
        // "auto" by its rule, written out here.
        const std::size_t m = std::max(pa.size(), pb.size());
        const bool equal_chars = vorn::utf8::count_chars(pa) == vorn::utf8::count_chars(pb);
        if (m <= 20 && equal_chars) algorithm = Algorithm::of("hamming_similarity");
        else if (m <= 50) algorithm = Algorithm::of("jaro_winkler_similarity");
        else if (m <= 500) algorithm = Algorithm::of("bm25_similarity");
        else algorithm = Algorithm::of("simhash_similarity_default");
        // Never picks an algorithm that cannot compare the pair.
        FUZZ_CHECK(got.has_value());
    }
    const auto scored = run_algorithm(algorithm, pa, pb);
    if (!scored) return check_error(got, scored.error());
    check_same(got, scored, 0);
}

void check_compare(const VornFlow& router, const std::string& a, const std::string& b, std::string_view pa,
                   std::string_view pb) {
    const auto got = compare(router, a, b);
    if (router.auto_route) {
        const auto intent = compare_with_intent(router, Intent::Auto, a, b);
        FUZZ_CHECK(got.has_value() && intent.has_value());
        FUZZ_CHECK(same_bits(got->score, intent->score) && got->tier == 0 && got->algorithm == intent->algorithm);
        return;
    }
    std::optional<vorn::Expected<AlgorithmScore, VornError>> first;
    if (router.tier1) {
        first.emplace(run_algorithm(router.tier1->algorithm, pa, pb));
        if (!*first) return check_error(got, first->error());
        const double s = (*first)->score;
        const Tier1& t = *router.tier1;
        const bool decides = (t.match_threshold.kind == Threshold::Kind::GreaterThan && s > t.match_threshold.low) ||
                             (t.mismatch_threshold.kind == Threshold::Kind::LessThan && s < t.mismatch_threshold.low);
        if (decides) return check_same(got, *first, 1);
    }
    if (router.tier2) {
        const auto second = run_algorithm(router.tier2->algorithm, pa, pb);
        if (!second) return check_error(got, second.error());
        if (holds(router.tier2->threshold, second->score)) return check_same(got, second, 2);
        if (!router.tier1 && !router.fallback) {
            // Left open by the rules; whatever comes back must be well formed.
            if (got) FUZZ_CHECK(got->tier == 2 && got->algorithm == second->algorithm);
            return;
        }
    }
    if (router.fallback) {
        FUZZ_CHECK(got.has_value() && got->tier == 3 && got->fallback_called);
        FUZZ_CHECK(got->algorithm == "fallback" && got->fallback_data == std::optional<std::string>(std::string(pb)));
        FUZZ_CHECK(same_bits(got->score, static_cast<double>(pa.size())));
        return;
    }
    if (first) return check_same(got, *first, 1);
    check_error(got, VornError(VornError::Kind::RouterConfigError, "No tiers configured"));
}

// A RapidFuzz-compatible metric counted in edits: counting the UTF-8 and
// the code points agree, the distance stays within its maximum, the
// normalized similarity is 1 - distance / maximum, and Hamming without
// padding refuses exactly the texts of unequal lengths.
void check_counted(std::uint8_t pick, const std::u32string& ca, const std::u32string& cb, const std::string& a,
                   const std::string& b) {
    namespace registry = vorn::registry;
    constexpr Measure kCounted[] = {Measure::levenshtein_normalized,
                                    Measure::indel_normalized,
                                    Measure::lcs_seq_normalized,
                                    Measure::osa_normalized,
                                    Measure::damerau_levenshtein_normalized,
                                    Measure::hamming_normalized,
                                    Measure::prefix_normalized,
                                    Measure::postfix_normalized};
    const Measure measure = kCounted[pick % std::size(kCounted)];
    registry::Options options;
    options.pad = (pick & 0x80) == 0;
    if (pick & 0x40) options.weights = {1u + pick % 3u, 1u + pick % 2u, 2};
    const auto counted = registry::count_edits(measure, a, b, options);
    if (measure == Measure::hamming_normalized && !options.pad)
        FUZZ_CHECK(counted.has_value() == (ca.size() == cb.size()));
    if (!counted) return;
    FUZZ_CHECK(counted->distance <= counted->maximum);
    if (!registry::counts_utf8(measure)) {
        const auto by_points =
            registry::count_edits(measure, std::u32string_view(ca), std::u32string_view(cb), options);
        FUZZ_CHECK(by_points && by_points->distance == counted->distance && by_points->maximum == counted->maximum);
    }
    const double similarity = 1.0 - static_cast<double>(counted->distance) /
                                        static_cast<double>(std::max<std::uint64_t>(counted->maximum, 1));
    FUZZ_CHECK(in_unit_range(similarity));
    FUZZ_CHECK(same_bits(registry::rapidfuzz_similarity(measure, a, b, 0.0, options), similarity));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);

    // Names: exactly the listed strings are accepted.
    const std::string algo_name = pick_name(input, kAlgorithmNames);
    const auto parsed = parse_algo(algo_name);
    FUZZ_CHECK(parsed.has_value() == listed(kAlgorithmNames, algo_name));
    if (parsed)
        FUZZ_CHECK(report_name(*parsed) == (algo_name == "minhash_default"   ? "minhash"
                                            : algo_name == "simhash_default" ? "simhash"
                                                                             : algo_name));
    const std::string intent_name = pick_name(input, kIntentNames);
    const auto intent = parse_intent(intent_name);
    FUZZ_CHECK(intent.has_value() == listed(kIntentNames, intent_name));

    VornFlow router;
    const std::uint8_t shape = input.byte();
    if (shape & 1) {
        const Algorithm algorithm = shape & 8 && parsed ? *parsed : pick_algorithm(input);
        const std::string match_op = pick_name(input, kOperatorNames);
        const std::string mismatch_op = pick_name(input, kOperatorNames);
        const double match_val = input.unit_or_odd_double();
        const double mismatch_val = input.unit_or_odd_double();
        const auto match = parse_threshold(match_op, match_val);
        const auto mismatch = parse_threshold(mismatch_op, mismatch_val);
        FUZZ_CHECK(match.has_value() == (listed(kOperatorNames, match_op) && match_op != "between"));
        FUZZ_CHECK(mismatch.has_value() == (listed(kOperatorNames, mismatch_op) && mismatch_op != "between"));
        if (match && mismatch) router.tier1 = Tier1{*match, algorithm, *mismatch};
    }
    if (shape & 2) {
        const Algorithm algorithm = pick_algorithm(input);
        const std::string op = pick_name(input, kOperatorNames);
        const double low = input.unit_or_odd_double();
        const double high = input.unit_or_odd_double();
        const auto threshold = parse_tier2_threshold(op, low, high);
        FUZZ_CHECK(threshold.has_value() == listed(kOperatorNames, op));
        if (threshold) {
            FUZZ_CHECK(threshold->low == low || std::isnan(low));
            if (op == "between") FUZZ_CHECK(threshold->kind == Threshold::Kind::Between);
            router.tier2 = Tier2{algorithm, *threshold};
        }
    }
    if (shape & 4) router.preprocessor = vorn::preprocess::Preprocessor{};
    if (shape & 16) {
        router.fallback = [](std::string_view a, std::string_view b) {
            return std::pair<double, std::string>{static_cast<double>(a.size()), std::string(b)};
        };
    }
    router.auto_route = (shape & 0xE0) == 0xE0;

    auto [ca, cb] = input.pair_points(kMaxChars);
    const std::string a = vorn::fuzz::encode(ca);
    const std::string b = vorn::fuzz::encode(cb);
    const std::string pa = router.preprocessor ? vorn::preprocess::process(*router.preprocessor, a).value() : a;
    const std::string pb = router.preprocessor ? vorn::preprocess::process(*router.preprocessor, b).value() : b;

    check_run(pick_algorithm(input), pa, pb);
    if (router.tier1) check_run(router.tier1->algorithm, pa, pb);
    if (intent) check_intent(router, *intent, a, b, pa, pb);
    check_intent(router, static_cast<Intent>(input.byte() % 6), a, b, pa, pb);
    check_compare(router, a, b, pa, pb);
    check_counted(input.byte(), ca, cb, a, b);
    return 0;
}
