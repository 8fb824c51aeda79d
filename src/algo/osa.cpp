// Row-by-row dynamic programme over the shorter text, keeping the two
// previous rows for the transposition step.
#include "algo/osa.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace vorn::algo {

std::size_t osa_distance(std::u32string_view a, std::u32string_view b) {
    if (a.size() < b.size()) std::swap(a, b);
    const std::size_t n = b.size();
    if (n == 0) return a.size();
    std::vector<std::size_t> before(n + 1), previous(n + 1), current(n + 1);
    for (std::size_t j = 0; j <= n; ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= n; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            std::size_t best = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = std::min(best, before[j - 2] + 1);
            current[j] = best;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[n];
}

}  // namespace vorn::algo
