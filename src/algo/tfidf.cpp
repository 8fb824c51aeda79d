#include "algo/tfidf.hpp"

#include <cmath>
#include <memory_resource>
#include <vector>

#include "algo/term_tokens.hpp"

namespace vorn::algo {

double tfidf_similarity(std::string_view a, std::string_view b) {
    ScoringArena arena;
    const TermCounts counts = count_terms(a, b, arena.get());

    // df is 1 or 2, so there are two idf values.
    const double idf_one = std::log(3.0 / (1.0 + 1.0)) + 1.0;
    const double idf_both = std::log(3.0 / (2.0 + 1.0)) + 1.0;
    auto weight = [&](const TermCounts::Term& term, int doc, double length) {
        const bool in_both = term.count[0] != 0 && term.count[1] != 0;
        const double tf = static_cast<double>(term.count[doc]) / length;
        return tf * (in_both ? idf_both : idf_one);
    };

    const double length_a = static_cast<double>(counts.tokens[0]);
    const double length_b = static_cast<double>(counts.tokens[1]);
    std::pmr::vector<double> weights_a(counts.distinct_a, counts.terms.get_allocator());
    double sum_a = 0.0;
    for (std::size_t id = 0; id < counts.distinct_a; ++id) {
        const double w = weight(counts.terms[id], 0, length_a);
        weights_a[id] = w;
        sum_a += w * w;
    }
    double sum_b = 0.0;
    for (std::size_t id : counts.distinct_b) {
        const double w = weight(counts.terms[id], 1, length_b);
        sum_b += w * w;
    }
    const double norm_a = std::sqrt(sum_a);
    const double norm_b = std::sqrt(sum_b);
    if (norm_a == 0.0 || norm_b == 0.0) return counts.terms.empty() ? 1.0 : 0.0;

    double dot = -0.0;
    for (std::size_t id = 0; id < counts.distinct_a; ++id) {
        const TermCounts::Term& term = counts.terms[id];
        if (term.count[1] != 0) dot += weights_a[id] * weight(term, 1, length_b);
    }
    double cosine = dot / (norm_a * norm_b);
    // Rounding of the norms can push equal vectors just above 1.
    if (cosine > 1.0) cosine = 1.0;
    return cosine + 0.0;
}

}  // namespace vorn::algo
