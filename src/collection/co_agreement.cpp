#include "collection/co_agreement.hpp"

#include <algorithm>
#include <vector>

#include "support/flat_hash_table.hpp"

namespace vorn::collection {

namespace {

// Enough room from the start for the combined codes of a column of mostly
// distinct values, without sizing a large table for a few.
std::size_t expected_combined(const CodeColumn& first, const CodeColumn& second) {
    const std::size_t rows = first.codes.size();
    if (second.distinct != 0 && first.distinct > rows / second.distinct) return rows;
    return std::min(rows, first.distinct * second.distinct);
}

}  // namespace

CoAgreement co_agreement(CodeColumn left_first, CodeColumn left_second, CodeColumn right_first, CodeColumn right_second,
                         bool one_table) {
    CoAgreement out;
    std::vector<std::uint64_t> first_counts(left_first.distinct, 0);
    std::vector<std::uint64_t> second_counts(left_second.distinct, 0);
    support::FlatHashMap<std::uint64_t, std::uint64_t> both_counts;
    both_counts.reserve(expected_combined(left_first, left_second));
    // Codes are below their distinct counts: a pair of them is one number.
    const auto width = static_cast<std::uint64_t>(left_second.distinct);
    const std::size_t rows = left_first.codes.size();
    for (std::size_t k = 0; k < rows; ++k) {
        const std::int64_t a = left_first.codes[k], b = left_second.codes[k];
        if (a < 0 || b < 0) continue;
        ++out.left_records;
        // One table: each record agrees with the ones counted before it.
        const std::uint64_t seen_first = first_counts[static_cast<std::size_t>(a)]++;
        const std::uint64_t seen_second = second_counts[static_cast<std::size_t>(b)]++;
        const std::uint64_t seen_both =
            (*both_counts.insert(static_cast<std::uint64_t>(a) * width + static_cast<std::uint64_t>(b)).first)++;
        if (one_table) {
            out.agree_first += seen_first;
            out.agree_second += seen_second;
            out.agree_both += seen_both;
        }
    }
    if (one_table) {
        out.right_records = out.left_records;
        return out;
    }
    const std::size_t right_rows = right_first.codes.size();
    for (std::size_t k = 0; k < right_rows; ++k) {
        const std::int64_t a = right_first.codes[k], b = right_second.codes[k];
        if (a < 0 || b < 0) continue;
        ++out.right_records;
        out.agree_first += first_counts[static_cast<std::size_t>(a)];
        out.agree_second += second_counts[static_cast<std::size_t>(b)];
        if (const std::uint64_t* found =
                both_counts.find(static_cast<std::uint64_t>(a) * width + static_cast<std::uint64_t>(b)))
            out.agree_both += *found;
    }
    return out;
}

}  // namespace vorn::collection
