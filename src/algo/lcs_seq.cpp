// Bit-parallel longest common subsequence (Allison-Dix 1986, Hyyro 2004).
//
// Bit j of the row vector s is 0 when pattern character j ends a match of
// the subsequence found so far; each text character c updates
//   u = s & eq(c);  s = (s + u) | (s - u)
// and the length is the number of zero bits in the end. Longer patterns
// take one word per 64 characters, with the addition's carry passed from
// block to block.
#include "algo/lcs_seq.hpp"

#include "algo/common_affix.hpp"
#include "algo/editops.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace vorn::algo {
namespace {

inline std::uint64_t low_bits(std::size_t k) noexcept {
    return k >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
}

template <class Masks>
std::size_t lcs_single_word(const Masks& masks, std::size_t m, std::u32string_view text) noexcept {
    std::uint64_t s = ~std::uint64_t{0};
    for (char32_t c : text) {
        const std::uint64_t u = s & masks.get(c);
        s = (s + u) | (s - u);
    }
    return static_cast<std::size_t>(std::popcount(~s & low_bits(m)));
}

// The zero bits among the m bits of the row vector s: the length found.
inline std::size_t matched_of(const std::uint64_t* s, std::size_t words, std::size_t m) noexcept {
    std::size_t ones = 0;
    for (std::size_t w = 0; w + 1 < words; ++w) ones += static_cast<std::size_t>(std::popcount(s[w]));
    ones += static_cast<std::size_t>(std::popcount(s[words - 1] & low_bits(m - (words - 1) * kWordBits)));
    return m - ones;
}

// Advances the row vector s (`words` words) by one text character whose
// mask row is `row`; returns the carry out of the last word, which is the
// growth of the subsequence (see lcs_single_word_along).
inline bool advance_lcs_row(const BlockMasks::Row& row, std::uint64_t* s, std::size_t words) noexcept {
    BlockMasks::RowReader reader(row);
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint64_t eq = reader.next(w);
        const std::uint64_t x = s[w];
        const std::uint64_t u = x & eq;
        const std::uint64_t partial = x + carry;
        const std::uint64_t sum = partial + u;
        carry = (partial < carry) | (sum < u);
        s[w] = sum | (x - u);
    }
    return carry != 0;
}

// Patterns of 65 to 64 * kDenseShare characters: every row is dense and
// the N words of the row vector stay in registers, the carry chain
// unrolled.
template <std::size_t N>
std::size_t lcs_few_words(const BlockMasks& masks, std::size_t m, std::u32string_view text) noexcept {
    std::uint64_t s[N];
    for (std::uint64_t& word : s) word = ~std::uint64_t{0};
    for (char32_t c : text) {
        const std::uint64_t* eq = masks.dense_row(c);
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < N; ++w) {
            const std::uint64_t x = s[w];
            const std::uint64_t u = x & eq[w];
            const std::uint64_t partial = x + carry;
            const std::uint64_t sum = partial + u;
            carry = (partial < carry) | (sum < u);
            s[w] = sum | (x - u);
        }
    }
    return matched_of(s, N, m);
}

std::size_t lcs_blocks(const BlockMasks& masks, std::size_t m, std::u32string_view text) {
    const std::size_t words = masks.words();
    std::vector<std::uint64_t> s(words, ~std::uint64_t{0});
    for (char32_t c : text) advance_lcs_row(masks.find(c), s.data(), words);
    return matched_of(s.data(), words, m);
}

// The length after each character of [first, last) into out. The bits
// of s above the pattern stay ones, so the run of ones at the top reaches
// the word's end: the length grows by one exactly when a match falls in
// that run, which is when the addition carries out of the word (every
// other run only moves its zero down).
template <class Masks, class Iterator>
void lcs_single_word_along(const Masks& masks, Iterator first, Iterator last, std::size_t* out) noexcept {
    std::uint64_t s = ~std::uint64_t{0};
    std::size_t length = 0;
    for (; first != last; ++first) {
        const std::uint64_t u = s & masks.get(*first);
        std::uint64_t sum;
        length += __builtin_add_overflow(s, u, &sum);
        s = sum | (s - u);
        *out++ = length;
    }
}

template <class Iterator>
void lcs_blocks_along(const BlockMasks& masks, Iterator first, Iterator last, std::size_t* out) {
    const std::size_t words = masks.words();
    std::vector<std::uint64_t> s(words, ~std::uint64_t{0});
    std::size_t length = 0;
    for (; first != last; ++first) {
        length += advance_lcs_row(masks.find(*first), s.data(), words);
        *out++ = length;
    }
}

}  // namespace

CachedLcsSeq::CachedLcsSeq(std::u32string_view pattern) : length_(pattern.size()) {
    if (pattern.empty()) return;
    const std::size_t non_ascii = count_beyond_ascii(pattern);
    if (length_ <= kWordBits) masks_.emplace<WordMasks>(pattern, non_ascii);
    else masks_.emplace<BlockMasks>(pattern, length_, non_ascii);
}

std::size_t CachedLcsSeq::similarity(std::u32string_view other) const {
    if (length_ == 0 || other.empty()) return 0;
    if (const auto* word = std::get_if<WordMasks>(&masks_)) return lcs_single_word(*word, length_, other);
    const BlockMasks& masks = *std::get_if<BlockMasks>(&masks_);
    static_assert(BlockMasks::kDenseShare == 4);
    switch (masks.words()) {
        case 2: return lcs_few_words<2>(masks, length_, other);
        case 3: return lcs_few_words<3>(masks, length_, other);
        case 4: return lcs_few_words<4>(masks, length_, other);
        default: return lcs_blocks(masks, length_, other);
    }
}

template <class Iterator>
void CachedLcsSeq::similarities_along(Iterator first, Iterator last, std::size_t* out) const {
    if (length_ == 0) {
        std::fill(out, out + (last - first), std::size_t{0});
        return;
    }
    if (const auto* word = std::get_if<WordMasks>(&masks_)) return lcs_single_word_along(*word, first, last, out);
    lcs_blocks_along(*std::get_if<BlockMasks>(&masks_), first, last, out);
}

void CachedLcsSeq::prefix_similarities(std::u32string_view other, std::size_t* out) const {
    similarities_along(other.begin(), other.end(), out);
}

void CachedLcsSeq::reversed_prefix_similarities(std::u32string_view other, std::size_t* out) const {
    similarities_along(other.rbegin(), other.rend(), out);
}

std::size_t lcs_seq_similarity(std::u32string_view a, std::u32string_view b) {
    // A common prefix and suffix belong to some longest subsequence.
    const std::size_t length_a = a.size();
    const TrimmedPair trimmed = trim_common_affixes(a, b);
    a = trimmed.a;
    b = trimmed.b;
    const std::size_t prefix = trimmed.prefix, suffix = length_a - prefix - a.size();
    if (a.size() > b.size()) std::swap(a, b);  // the shorter text is the pattern
    if (a.empty()) return prefix + suffix;
#if defined(__SSE2__)
    // A short pattern compared once: masks compared in registers cost less
    // than clearing and filling a table.
    const auto found = with_register_masks(a, [&](const auto& masks) { return lcs_single_word(masks, a.size(), b); });
    if (found) return prefix + suffix + *found;
#endif
    return prefix + suffix + CachedLcsSeq(a).similarity(b);
}

// Bit col - 1 of row row - 1 is set when the subsequence does not grow
// with source character col in the first `row` destination characters:
// that cell is reached by a deletion.
EditScript indel_editops(std::u32string_view source, std::u32string_view dest) {
    using namespace editops_detail;
    const TrimmedPair t = trim_common_affixes(source, dest);
    EditScript script{{}, source.size(), dest.size()};
    std::vector<std::uint64_t> matrix;
    std::size_t words = 0;
    if (!t.a.empty() && !t.b.empty()) {
        const BlockMasks masks(t.a, t.a.size(), count_beyond_ascii(t.a));
        words = masks.words();
        matrix.resize(t.b.size() * words);
        std::vector<std::uint64_t> s(words, ~std::uint64_t{0});
        for (std::size_t row = 0; row < t.b.size(); ++row) {
            advance_lcs_row(masks.find(t.b[row]), s.data(), words);
            std::copy(s.begin(), s.end(), matrix.begin() + static_cast<std::ptrdiff_t>(row * words));
        }
    }
    walk_back(
        t.a, t.b, t.prefix, t.prefix,
        [&](std::size_t row, std::size_t col) { return matrix_bit(matrix, words, row, col); },
        [&](std::size_t row, std::size_t col) { return !matrix_bit(matrix, words, row, col); }, script.ops);
    return script;
}

}  // namespace vorn::algo
