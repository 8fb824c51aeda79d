#include "algo/jaro.hpp"

#include <algorithm>
#include <cstddef>

#include "algo/jaro_winkler.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {

double jaro_similarity(std::string_view a, std::string_view b) {
    const std::size_t na = utf8::count_chars(a), nb = utf8::count_chars(b);
    if (na == 0 || nb == 0) return na == nb ? 1.0 : 0.0;
    const JaroMatching found = jaro_matching(a, b);
    if (found.matches == 0) return 0.0;
    const double m = static_cast<double>(found.matches);
    const double t = static_cast<double>(found.transpositions);
    return (m / static_cast<double>(na) + m / static_cast<double>(nb) + (m - t) / m) / 3.0;
}

double winkler_similarity(std::string_view a, std::string_view b, double prefix_weight) {
    constexpr std::size_t kMaxPrefix = 4;
    double similarity = jaro_similarity(a, b);
    if (similarity <= 0.7) return similarity;
    std::size_t prefix = 0;
    const text::CodePoints other(b);
    auto it = other.begin();
    for (char32_t c : text::CodePoints(a)) {
        if (prefix == kMaxPrefix || it == other.end() || *it != c) break;
        ++prefix;
        ++it;
    }
    similarity += static_cast<double>(prefix) * prefix_weight * (1.0 - similarity);
    return similarity;
}

}  // namespace vorn::algo
