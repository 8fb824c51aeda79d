// Pairs of records agreeing exactly on two fields at once: the linkage's
// test of which fields move together (an address, a household's surname).
// A field is a column of value codes, -1 where the value is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vorn::collection {

// One field's codes on one side: each in [-1, distinct).
struct CodeColumn {
    std::span<const std::int64_t> codes;
    std::size_t distinct = 0;
};

// Among the records holding both fields: how many there are on each side,
// and the pairs of them agreeing on the first field, on the second, and on
// both. Exact whole numbers, whatever the order of counting.
struct CoAgreement {
    std::uint64_t left_records = 0;
    std::uint64_t right_records = 0;
    std::uint64_t agree_first = 0;
    std::uint64_t agree_second = 0;
    std::uint64_t agree_both = 0;
};

// One table (right_first and right_second empty): each unordered pair of
// its records once. Two tables: each (left, right) pair. Codes outside
// [-1, distinct) are the caller's fault (checked by the caller).
CoAgreement co_agreement(CodeColumn left_first, CodeColumn left_second, CodeColumn right_first, CodeColumn right_second,
                         bool one_table);

}  // namespace vorn::collection
