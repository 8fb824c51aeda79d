// Lowrance and Wagner's dynamic programme: a transposition reaches back to
// the last row where b's character occurred in a and the last column where
// a's character matched, so each character's last row is kept in the
// library's hash table.
#include "algo/damerau_levenshtein.hpp"

#include <algorithm>
#include <functional>
#include <vector>

#include "support/flat_hash_table.hpp"

namespace vorn::algo {

std::size_t damerau_levenshtein_distance(std::u32string_view a, std::u32string_view b) {
    const std::size_t m = a.size(), n = b.size();
    if (m == 0 || n == 0) return m + n;
    const std::size_t infinity = m + n;
    const std::size_t width = n + 2;
    // Row i + 1 of `cells` is the row of a's first i characters; row 0 and
    // column 0 hold the infinity border.
    std::vector<std::size_t> cells((m + 2) * width);
    const auto cell = [&](std::size_t row, std::size_t column) -> std::size_t& { return cells[row * width + column]; };
    cell(0, 0) = infinity;
    for (std::size_t i = 0; i <= m; ++i) {
        cell(i + 1, 0) = infinity;
        cell(i + 1, 1) = i;
    }
    for (std::size_t j = 0; j <= n; ++j) {
        cell(0, j + 1) = infinity;
        cell(1, j + 1) = j;
    }
    // Last row (1-based) of a in which each character occurred; 0 if none.
    // Key 0 (U+0000) is stored in the table's spare slot.
    support::FlatHashMap<char32_t, std::size_t, support::IntegerHash, std::equal_to<>> last_row;
    last_row.reset(std::min(m, std::size_t{1} << 16));
    for (std::size_t i = 1; i <= m; ++i) {
        std::size_t last_match_column = 0;
        for (std::size_t j = 1; j <= n; ++j) {
            const std::size_t* found = last_row.find(b[j - 1]);
            const std::size_t k = found ? *found : 0;
            const std::size_t l = last_match_column;
            std::size_t cost = 1;
            if (a[i - 1] == b[j - 1]) {
                cost = 0;
                last_match_column = j;
            }
            cell(i + 1, j + 1) = std::min({cell(i, j) + cost, cell(i + 1, j) + 1, cell(i, j + 1) + 1,
                                           cell(k, l) + (i - k - 1) + 1 + (j - l - 1)});
        }
        *last_row.insert(a[i - 1]).first = i;
    }
    return cell(m + 1, n + 1);
}

}  // namespace vorn::algo
