#include "router/router.hpp"

#include <algorithm>
#include <new>

#include "text/utf8.hpp"

namespace vorn::router {
namespace {

using Outcome = Expected<ComparisonResult, VornError>;

// The texts a comparison scores: views of the caller's strings, or of
// their preprocessed copies held here.
class PreparedTexts {
public:
    PreparedTexts(std::string_view a, std::string_view b) : a_(a), b_(b) {}
    PreparedTexts(const PreparedTexts&) = delete;
    PreparedTexts& operator=(const PreparedTexts&) = delete;

    // Runs the router's preprocessing, if any, on both texts. A failed
    // Unicode step is a preprocessing error; lack of memory is bad_alloc.
    std::optional<VornError> prepare(const VornFlow& router) {
        if (!router.preprocessor) return std::nullopt;
        for (std::string_view* side : {&a_, &b_}) {
            auto processed = preprocess::process(*router.preprocessor, *side);
            if (!processed) {
                const text::UnicodeFailure& failure = processed.error();
                if (failure.out_of_memory) throw std::bad_alloc();
                return VornError(VornError::Kind::PreprocessingError, text::describe(failure));
            }
            std::string& storage = side == &a_ ? storage_a_ : storage_b_;
            storage = std::move(*processed);
            *side = storage;
        }
        return std::nullopt;
    }

    std::string_view a() const noexcept { return a_; }
    std::string_view b() const noexcept { return b_; }

private:
    std::string storage_a_;
    std::string storage_b_;
    std::string_view a_;
    std::string_view b_;
};

ComparisonResult tier_result(const AlgorithmScore& scored, std::uint64_t tier) {
    return ComparisonResult{scored.score, tier, scored.algorithm, false, std::nullopt};
}

constexpr std::size_t kHammingMaxBytes = 20;
constexpr std::size_t kJaroWinklerMaxBytes = 50;
constexpr std::size_t kBm25MaxBytes = 500;

}  // namespace

std::optional<Intent> parse_intent(std::string_view name) noexcept {
    for (const IntentEntry& entry : kIntents) {
        if (name == entry.name) return entry.intent;
    }
    return std::nullopt;
}

Algorithm auto_algorithm(std::string_view a, std::string_view b) noexcept {
    const std::size_t longest = std::max(a.size(), b.size());
    // Equal character counts (not bytes) so that Hamming is only chosen for
    // texts it can compare; the size limits themselves count bytes.
    if (longest <= kHammingMaxBytes && utf8::count_chars(a) == utf8::count_chars(b)) {
        return Algorithm::of("hamming_similarity");
    }
    if (longest <= kJaroWinklerMaxBytes) return Algorithm::of("jaro_winkler_similarity");
    if (longest <= kBm25MaxBytes) return Algorithm::of("bm25_similarity");
    return Algorithm::of("simhash_similarity_default");
}

Algorithm intent_algorithm(Intent intent, std::string_view a, std::string_view b) noexcept {
    for (const IntentEntry& entry : kIntents) {
        if (entry.intent == intent && entry.algorithm != nullptr) return Algorithm::of(*entry.algorithm);
    }
    return auto_algorithm(a, b);
}

Outcome compare(const VornFlow& router, std::string_view a, std::string_view b) {
    if (router.auto_route) return compare_with_intent(router, Intent::Auto, a, b);

    PreparedTexts texts(a, b);
    if (auto failed = texts.prepare(router)) return *std::move(failed);
    std::optional<AlgorithmScore> tier1_score;
    if (router.tier1) {
        auto scored = run_algorithm(router.tier1->algorithm, texts.a(), texts.b());
        if (!scored) return std::move(scored).error();
        if (router.tier1->decides(scored->score)) return tier_result(*scored, 1);
        tier1_score = *scored;
    }
    std::optional<AlgorithmScore> tier2_score;
    if (router.tier2) {
        auto scored = run_algorithm(router.tier2->algorithm, texts.a(), texts.b());
        if (!scored) return std::move(scored).error();
        if (router.tier2->decides(scored->score)) return tier_result(*scored, 2);
        tier2_score = *scored;
    }
    if (router.fallback) {
        auto [score, data] = router.fallback(texts.a(), texts.b());
        return ComparisonResult{score, 3, "fallback", true, std::move(data)};
    }
    // Nothing settled the pair: report the first tier that ran.
    if (tier1_score) return tier_result(*tier1_score, 1);
    if (tier2_score) return tier_result(*tier2_score, 2);
    return VornError(VornError::Kind::RouterConfigError, "No tiers configured");
}

Outcome compare_with_intent(const VornFlow& router, Intent intent, std::string_view a, std::string_view b) {
    PreparedTexts texts(a, b);
    if (auto failed = texts.prepare(router)) return *std::move(failed);
    auto scored = run_algorithm(intent_algorithm(intent, texts.a(), texts.b()), texts.a(), texts.b());
    if (!scored) return std::move(scored).error();
    return tier_result(*scored, 0);
}

}  // namespace vorn::router
