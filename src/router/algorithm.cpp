#include "router/algorithm.hpp"

namespace vorn::router {

std::optional<Algorithm> parse_algo(std::string_view name) noexcept {
    const registry::Entry* entry = registry::find_router_name(name);
    if (entry == nullptr) return std::nullopt;
    return Algorithm::of(*entry);
}

std::string_view report_name(const Algorithm& algorithm) noexcept { return algorithm.entry->report_name; }

Expected<AlgorithmScore, VornError> run_algorithm(const Algorithm& algorithm, std::string_view a, std::string_view b) {
    const registry::Entry& entry = *algorithm.entry;
    const auto score = registry::similarity(entry.measure, algorithm.size, algorithm.num_hashes, a, b);
    if (score) return AlgorithmScore{*score, entry.report_name};
    // Not the free functions' wording for Hamming: the router's message is
    // fixed by the public contract. Other refusals (a zero size) become an
    // algorithm error carrying the function's text.
    if (entry.measure == registry::Measure::hamming_similarity)
        return VornError(VornError::Kind::AlgorithmError, "Hamming requires equal-length strings");
    return VornError(VornError::Kind::AlgorithmError, std::string(score.error().message));
}

}  // namespace vorn::router
