#include "collection/key_codes.hpp"

#include <algorithm>

#include "support/flat_hash_table.hpp"

namespace vorn::collection {

namespace {
constexpr std::size_t kInitialKeys = std::size_t{1} << 14;
}  // namespace

std::optional<std::size_t> number_keys(std::span<const std::int64_t> keys, std::span<std::int64_t> codes,
                                       std::span<std::int64_t> first, const std::function<bool()>& should_stop) {
    support::FlatHashMap<std::int64_t, std::int64_t> code_of;
    // Starts small and doubles: a column of few distinct keys keeps its table in cache.
    code_of.reserve(std::min<std::size_t>(keys.size(), kInitialKeys));
    std::int64_t distinct = 0;
    for (std::size_t begin = 0; begin < keys.size(); begin += kKeysPerStopCheck) {
        if (begin > 0 && should_stop()) return std::nullopt;
        const std::size_t end = std::min(keys.size(), begin + kKeysPerStopCheck);
        for (std::size_t k = begin; k < end; ++k) {
            const auto [code, inserted] = code_of.insert(keys[k]);
            if (inserted) {
                *code = distinct;
                first[static_cast<std::size_t>(distinct)] = static_cast<std::int64_t>(k);
                ++distinct;
            }
            codes[k] = *code;
        }
    }
    return static_cast<std::size_t>(distinct);
}

}  // namespace vorn::collection
