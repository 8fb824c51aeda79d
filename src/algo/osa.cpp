// Bit-parallel optimal string alignment distance (Hyyro 2003): the
// Levenshtein recurrence of levenshtein.cpp, with one more term in the
// diagonal delta vector D0 for a transposition: pattern character j can
// end a transposition at text character i when it equals text[i - 1] and
// pattern[j - 1] equals text[i] with no match of pattern[j - 1] ending at
// i - 1's diagonal, i.e.
//   tr = ((~D0_before & eq(text[i])) << 1) & eq(text[i - 1]).
// The shorter text is the pattern (the distance is symmetric); longer
// patterns take a word per 64 characters, the horizontal deltas carried
// from block to block and the shifted term's top bit from the block below.
#include "algo/osa.hpp"

#include <cstdint>
#include <utility>
#include <vector>

#include "algo/char_masks.hpp"

namespace vorn::algo {
namespace {

template <class Masks>
std::size_t osa_single_word(const Masks& masks, std::size_t m, std::u32string_view text) noexcept {
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = m == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
    std::uint64_t vn = 0, d0 = 0, eq_before = 0;
    std::size_t distance = m;
    for (char32_t c : text) {
        const std::uint64_t eq = masks.get(c);
        const std::uint64_t tr = ((~d0 & eq) << 1) & eq_before;
        d0 = (((eq & vp) + vp) ^ vp) | eq | vn | tr;
        const std::uint64_t hp = vn | ~(d0 | vp);
        const std::uint64_t hn = d0 & vp;
        distance += (hp & last) != 0;
        distance -= (hn & last) != 0;
        const std::uint64_t hp_shifted = (hp << 1) | 1;
        vp = (hn << 1) | ~(d0 | hp_shifted);
        vn = hp_shifted & d0;
        eq_before = eq;
    }
    return distance;
}

// One 64-character block's state after a text character.
struct OsaBlock {
    std::uint64_t vp = ~std::uint64_t{0};
    std::uint64_t vn = 0;
    std::uint64_t d0 = 0;
    std::uint64_t eq = 0;  // the character's mask
};

std::size_t osa_blocks(const BlockMasks& masks, std::size_t m, std::u32string_view text) {
    const std::size_t words = masks.words();
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    std::vector<OsaBlock> blocks(words);
    std::size_t distance = m;
    for (char32_t c : text) {
        BlockMasks::RowReader reader(masks.find(c));
        std::uint64_t hp_carry = 1, hn_carry = 0;
        std::uint64_t below_term = 0;  // ~D0_before & eq of the block below
        for (std::size_t w = 0; w < words; ++w) {
            const std::uint64_t eq = reader.next(w);
            OsaBlock& block = blocks[w];
            const std::uint64_t term = ~block.d0 & eq;
            const std::uint64_t tr = ((term << 1) | (below_term >> 63)) & block.eq;
            below_term = term;
            const std::uint64_t x = eq | hn_carry;
            const std::uint64_t d0 = (((x & block.vp) + block.vp) ^ block.vp) | x | block.vn | tr;
            std::uint64_t hp = block.vn | ~(d0 | block.vp);
            std::uint64_t hn = d0 & block.vp;
            const unsigned high = w + 1 == words ? last_bit : 63u;
            const std::uint64_t hp_in = hp_carry, hn_in = hn_carry;
            hp_carry = (hp >> high) & 1;
            hn_carry = (hn >> high) & 1;
            hp = (hp << 1) | hp_in;
            hn = (hn << 1) | hn_in;
            block.vp = hn | ~(d0 | hp);
            block.vn = hp & d0;
            block.d0 = d0;
            block.eq = eq;
        }
        distance = distance + hp_carry - hn_carry;
    }
    return distance;
}

}  // namespace

std::size_t osa_distance(std::u32string_view a, std::u32string_view b) {
    if (a.size() > b.size()) std::swap(a, b);  // the shorter text is the pattern
    const std::size_t m = a.size();
    if (m == 0) return b.size();
#if defined(__SSE2__)
    const auto found = with_register_masks(a, [&](const auto& masks) { return osa_single_word(masks, m, b); });
    if (found) return *found;
#endif
    if (m <= kWordBits) {
        const WordMasks masks(a, count_beyond_ascii(a));
        return osa_single_word(masks, m, b);
    }
    const BlockMasks masks(a, m, count_beyond_ascii(a));
    return osa_blocks(masks, m, b);
}

}  // namespace vorn::algo
