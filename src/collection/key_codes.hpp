// Numbering the distinct values of a column of 64-bit keys by hashing: the
// linkage's pairs of value codes, agreement patterns and combined field
// codes, grouped in one pass instead of a sort. And the union of candidate
// pairs coded i * n_right + j, put in order by buckets of i instead of a sort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace vorn::collection {

// Keys numbered between two calls of should_stop.
inline constexpr std::size_t kKeysPerStopCheck = std::size_t{1} << 20;

// codes[k] = the number of distinct keys whose first occurrence comes
// before that of keys[k]; first[c] = the position of code c's first
// occurrence (only the first `distinct` entries are written). codes and
// first have keys.size() entries. Returns the distinct count, or nothing
// when should_stop returned true (the outputs are then partly written).
std::optional<std::size_t> number_keys(std::span<const std::int64_t> keys, std::span<std::int64_t> codes,
                                       std::span<std::int64_t> first, const std::function<bool()>& should_stop);

// Sorts the pair codes i * n_right + j (each in [0, n_left * n_right)) and
// drops repeats, in place: the distinct codes come first, in increasing
// order, and their count is returned (nothing when should_stop returned
// true; the codes are then in no particular state). Linear in the codes
// plus n_left: a counting sort by i, then each i's few j sorted alone.
std::optional<std::size_t> distinct_pair_codes(std::span<std::int64_t> codes, std::size_t n_left, std::size_t n_right,
                                               const std::function<bool()>& should_stop);

}  // namespace vorn::collection
