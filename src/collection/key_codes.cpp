#include "collection/key_codes.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "support/flat_hash_table.hpp"
#include "support/large_pages.hpp"

namespace vorn::collection {

namespace {

constexpr std::size_t kInitialKeys = std::size_t{1} << 14;

template <class Partner>
std::optional<std::size_t> distinct_pair_codes_as(std::span<std::int64_t> codes, std::size_t n_left,
                                                  std::size_t n_right, const std::function<bool()>& should_stop) {
    const auto row_of = [n_right](std::int64_t code) { return static_cast<std::size_t>(code) / n_right; };
    // starts[i + 1] counts row i's codes, then becomes where row i + 1's partners begin.
    std::vector<std::size_t> starts(n_left + 1, 0);
    for (std::size_t begin = 0; begin < codes.size(); begin += kKeysPerStopCheck) {
        if (begin > 0 && should_stop()) return std::nullopt;
        const std::size_t end = std::min(codes.size(), begin + kKeysPerStopCheck);
        for (std::size_t k = begin; k < end; ++k) ++starts[row_of(codes[k]) + 1];
    }
    for (std::size_t i = 0; i < n_left; ++i) starts[i + 1] += starts[i];
    std::vector<Partner> partners(codes.size());
    {
        std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
        for (std::size_t begin = 0; begin < codes.size(); begin += kKeysPerStopCheck) {
            if (should_stop()) return std::nullopt;
            const std::size_t end = std::min(codes.size(), begin + kKeysPerStopCheck);
            for (std::size_t k = begin; k < end; ++k) {
                const auto code = static_cast<std::size_t>(codes[k]);
                const std::size_t row = code / n_right;
                partners[next[row]++] = static_cast<Partner>(code - row * n_right);
            }
        }
    }
    std::size_t kept = 0;
    std::size_t since_check = 0;
    for (std::size_t i = 0; i < n_left; ++i) {
        const auto row_begin = partners.begin() + static_cast<std::ptrdiff_t>(starts[i]);
        const auto row_end = partners.begin() + static_cast<std::ptrdiff_t>(starts[i + 1]);
        std::sort(row_begin, row_end);
        const auto base = static_cast<std::int64_t>(i * n_right);
        for (auto j = row_begin; j != row_end; ++j)
            if (j == row_begin || *j != *(j - 1)) codes[kept++] = base + static_cast<std::int64_t>(*j);
        since_check += starts[i + 1] - starts[i];
        if (since_check >= kKeysPerStopCheck) {
            since_check = 0;
            if (should_stop()) return std::nullopt;
        }
    }
    return kept;
}

}  // namespace

std::optional<std::size_t> number_keys(std::span<const std::int64_t> keys, std::span<std::int64_t> codes,
                                       std::span<std::int64_t> first, const std::function<bool()>& should_stop) {
    // A large table faults in once per 2 MiB, not per 4 KiB page: a third of the time of a column
    // of a million distinct keys.
    support::FlatHashMap<std::int64_t, std::int64_t, support::IntegerHash, std::equal_to<>, 0,
                         support::LargePageAllocator<std::byte>>
        code_of;
    // Starts small and doubles: a column of few distinct keys keeps its table in cache.
    code_of.reserve(std::min<std::size_t>(keys.size(), kInitialKeys));
    std::size_t distinct = 0;
    const auto number = [&](std::size_t begin, std::size_t end) {
        // The table's fill loop, and locals for the rest: the stores to codes and first cannot
        // alias them, so the loop runs from registers (twice as fast as through members).
        code_of.fill([&](auto&& insert) {
            const std::int64_t* const in = keys.data();
            std::int64_t* const out = codes.data();
            std::int64_t* const firsts = first.data();
            std::size_t count = distinct;
            for (std::size_t k = begin; k < end; ++k) {
                const auto [code, inserted] = insert(in[k]);
                if (inserted) {
                    *code = static_cast<std::int64_t>(count);
                    firsts[count++] = static_cast<std::int64_t>(k);
                }
                out[k] = *code;
            }
            distinct = count;
        });
    };
    for (std::size_t begin = 0; begin < keys.size(); begin += kKeysPerStopCheck) {
        if (begin > 0 && should_stop()) return std::nullopt;
        const std::size_t end = std::min(keys.size(), begin + kKeysPerStopCheck);
        if (begin > 0 || end <= kInitialKeys) {
            number(begin, end);
            continue;
        }
        number(0, kInitialKeys);
        // Keys nearly all distinct so far: the table is sized once for as many as the column
        // projects, not doubled (every key moved) a dozen times on the way. Not for fewer: their
        // share falls as the column goes on, and an oversized table is slower than doubling.
        if (4 * distinct > 3 * kInitialKeys) code_of.reserve(distinct * (keys.size() / kInitialKeys));
        number(kInitialKeys, end);
    }
    return distinct;
}

std::optional<std::size_t> distinct_pair_codes(std::span<std::int64_t> codes, std::size_t n_left, std::size_t n_right,
                                               const std::function<bool()>& should_stop) {
    // Four bytes a partner when the right side's rows fit: half the scratch memory of a large union.
    if (n_right <= std::numeric_limits<std::uint32_t>::max() + std::size_t{1})
        return distinct_pair_codes_as<std::uint32_t>(codes, n_left, n_right, should_stop);
    return distinct_pair_codes_as<std::uint64_t>(codes, n_left, n_right, should_stop);
}

}  // namespace vorn::collection
