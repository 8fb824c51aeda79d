// SimHash vote without a branch per bit.
//
// Instead of 64 signed counters, the set bits of each position are counted:
// counter i equals 2 * ones_i - shingles, so bit i is set exactly when
// 2 * ones_i > shingles. Ones are counted eight positions per 64-bit word,
// one byte lane per position: each hash byte is spread into a word with one
// 0/1 byte per bit by a table lookup, and the words are added up. A lane
// holds at most 255, so the lanes are flushed into wide counters every 255
// hashes. Each window is hashed as it is produced; no shingle is stored.
#include "algo/simhash.hpp"

#include <array>
#include <bit>
#include <cstddef>

#include "algo/shingles.hpp"
#include "support/hash.hpp"

namespace vorn::algo {
namespace {

// kSpread[v] has byte j equal to bit j of v.
constexpr std::array<std::uint64_t, 256> make_spread_table() {
    std::array<std::uint64_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        std::uint64_t word = 0;
        for (unsigned j = 0; j < 8; ++j) word |= static_cast<std::uint64_t>((v >> j) & 1) << (8 * j);
        table[v] = word;
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> kSpread = make_spread_table();

class BitVote {
public:
    void add(std::uint64_t h) noexcept {
        for (unsigned byte = 0; byte < 8; ++byte) lanes_[byte] += kSpread[(h >> (8 * byte)) & 0xFF];
        if (++pending_ == 255) flush();
    }

    // Bits with more ones than zeros among `total` votes.
    std::uint64_t majority(std::uint64_t total) noexcept {
        flush();
        std::uint64_t result = 0;
        for (unsigned bit = 0; bit < 64; ++bit) result |= static_cast<std::uint64_t>(2 * ones_[bit] > total) << bit;
        return result;
    }

private:
    void flush() noexcept {
        for (unsigned byte = 0; byte < 8; ++byte) {
            for (unsigned lane = 0; lane < 8; ++lane) ones_[8 * byte + lane] += (lanes_[byte] >> (8 * lane)) & 0xFF;
            lanes_[byte] = 0;
        }
        pending_ = 0;
    }

    std::uint64_t lanes_[8] = {};
    std::uint64_t ones_[64] = {};
    unsigned pending_ = 0;
};

}  // namespace

Expected<std::uint64_t, InvalidArgument> simhash_fingerprint(std::string_view text, std::uint64_t shingle_size) {
    BitVote vote;
    auto shingles =
        char_shingles(text, shingle_size, [&](std::string_view shingle) { vote.add(support::fnv1a(shingle)); });
    if (!shingles) return shingles.error();
    return vote.majority(*shingles);
}

double simhash_fingerprint_similarity(std::uint64_t a, std::uint64_t b) noexcept {
    return 1.0 + static_cast<double>(std::popcount(a ^ b)) * -0.015625;
}

Expected<double, InvalidArgument> simhash_similarity(std::string_view a, std::string_view b,
                                                     std::uint64_t shingle_size) {
    auto fa = simhash_fingerprint(a, shingle_size);
    if (!fa) return fa.error();
    auto fb = simhash_fingerprint(b, shingle_size);
    if (!fb) return fb.error();
    return simhash_fingerprint_similarity(*fa, *fb);
}

}  // namespace vorn::algo
