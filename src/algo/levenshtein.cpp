// Bit-parallel edit distance (Myers 1999, in Hyyro's 2003 formulation).
//
// The shorter text is the pattern: one bit per pattern character in a
// 64-bit word, or a row of words for longer patterns, so memory is
// proportional to the shorter text. The longer text is streamed once.
#include "algo/levenshtein.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "algo/block_masks.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

constexpr std::size_t kWordBits = 64;

inline std::uint32_t hash_code_point(char32_t cp) noexcept {
    return static_cast<std::uint32_t>(cp) * 0x9E3779B1u;
}

// Reads a text one scalar value at a time; bytes directly when pure ASCII.
class AsciiReader {
public:
    explicit AsciiReader(std::string_view text) : text_(text) {}
    bool done() const noexcept { return pos_ == text_.size(); }
    char32_t next() noexcept { return static_cast<unsigned char>(text_[pos_++]); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

class Utf8Reader {
public:
    explicit Utf8Reader(std::string_view text) : text_(text) {}
    bool done() const noexcept { return pos_ == text_.size(); }
    char32_t next() noexcept { return utf8::decode(text_, pos_); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Match masks of a pattern of at most 64 characters, on the stack.
class SingleWordMasks {
public:
    template <class Reader>
    explicit SingleWordMasks(Reader pattern) {
        std::memset(ascii_, 0, sizeof ascii_);
        std::uint64_t bit = 1;
        while (!pattern.done()) {
            char32_t cp = pattern.next();
            if (cp < 128) ascii_[cp] |= bit;
            else *slot(cp) |= bit;
            bit <<= 1;
        }
    }

    std::uint64_t get(char32_t cp) const noexcept {
        if (cp < 128) return ascii_[cp];
        if (!any_extended_) return 0;
        for (std::uint32_t i = hash_code_point(cp) >> 25;; i = (i + 1) & 127) {
            if (keys_[i] == cp) return values_[i];
            if (keys_[i] == 0) return 0;
        }
    }

private:
    // At most 64 distinct keys in 128 slots; key 0 (ASCII) marks a free slot.
    std::uint64_t* slot(char32_t cp) noexcept {
        if (!any_extended_) std::memset(keys_, 0, sizeof keys_);  // only texts beyond ASCII need it
        any_extended_ = true;
        for (std::uint32_t i = hash_code_point(cp) >> 25;; i = (i + 1) & 127) {
            if (keys_[i] == cp) return &values_[i];
            if (keys_[i] == 0) {
                keys_[i] = cp;
                values_[i] = 0;
                return &values_[i];
            }
        }
    }

    std::uint64_t ascii_[128];
    char32_t keys_[128];
    std::uint64_t values_[128];
    bool any_extended_ = false;
};

template <class Reader>
std::uint64_t distance_single_word(const SingleWordMasks& masks, std::size_t m, Reader text) {
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = m == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
    std::uint64_t vn = 0;
    std::uint64_t score = m;
    while (!text.done()) {
        const std::uint64_t x = masks.get(text.next()) | vn;
        const std::uint64_t d0 = (((x & vp) + vp) ^ vp) | x;
        std::uint64_t hp = vn | ~(d0 | vp);
        std::uint64_t hn = vp & d0;
        score += (hp & last) != 0;
        score -= (hn & last) != 0;
        hp = (hp << 1) | 1;
        hn <<= 1;
        vp = hn | ~(d0 | hp);
        vn = hp & d0;
    }
    return score;
}

// The vertical delta vectors of one 64-row block.
struct BlockVectors {
    std::uint64_t vp = ~std::uint64_t{0};
    std::uint64_t vn = 0;
};

// Advances one block by one text character. The horizontal delta entering
// at the block's top comes in as the carry bits (+1: hp_carry, -1:
// hn_carry); the delta leaving at row bit `high` goes out the same way.
inline void advance_block(BlockVectors& block, std::uint64_t eq, std::uint64_t& hp_carry,
                          std::uint64_t& hn_carry, unsigned high) noexcept {
    const std::uint64_t vp = block.vp;
    const std::uint64_t vn = block.vn;
    const std::uint64_t x = eq | hn_carry;
    const std::uint64_t d0 = (((x & vp) + vp) ^ vp) | x | vn;
    std::uint64_t hp = vn | ~(d0 | vp);
    std::uint64_t hn = d0 & vp;
    const std::uint64_t hp_in = hp_carry;
    const std::uint64_t hn_in = hn_carry;
    hp_carry = (hp >> high) & 1;
    hn_carry = (hn >> high) & 1;
    hp = (hp << 1) | hp_in;
    hn = (hn << 1) | hn_in;
    block.vp = hn | ~(d0 | hp);
    block.vn = hp & d0;
}

// Only cells that can lie on an alignment no dearer than the best bound
// known so far are computed (Ukkonen's band). For a cell in column j and
// row i, on diagonal k = j - i, such an alignment costs at least
// |k| + |n - m - k|, so the rows of column j that matter are
//   j - (bound + n - m) / 2  ..  j + (bound - n + m) / 2.
// Blocks above the band are no longer advanced and feed their lower
// neighbour a +1 delta; blocks entering the band start from +1 deltas.
// Both overestimate cells outside the band, never those inside it, so the
// distance comes out exact. The bound starts at n and shrinks with the
// cost of finishing from the band's last row. A wider band than needed
// only costs time.
template <class Reader>
std::uint64_t distance_blocks(const BlockMasks<char32_t>& masks, std::size_t m, std::size_t n, Reader text) {
    const std::size_t words = masks.words();
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    const auto rows_through = [m](std::size_t w) { return std::min(m, (w + 1) * kWordBits); };
    const auto block_of_row = [m](std::int64_t row) {
        return static_cast<std::size_t>(std::clamp<std::int64_t>(row, 1, static_cast<std::int64_t>(m)) - 1) /
               kWordBits;
    };
    const std::int64_t excess = static_cast<std::int64_t>(n - m);

    std::vector<BlockVectors> blocks(words);
    std::vector<std::uint64_t> scores(words);  // distance at each block's last row, current column
    for (std::size_t w = 0; w < words; ++w) scores[w] = rows_through(w);

    // The band is recomputed every kBandStep columns, wide enough for all
    // of them, which keeps its bookkeeping off the per-column path.
    constexpr std::size_t kBandStep = 16;
    std::int64_t bound = static_cast<std::int64_t>(n);
    std::size_t first = 0;
    std::size_t last = block_of_row(static_cast<std::int64_t>(kBandStep) + (bound - excess) / 2);
    for (std::size_t j = 1; !text.done(); ++j) {
        const std::uint64_t* eq = masks.get(text.next());
        std::uint64_t hp_carry = 1;
        std::uint64_t hn_carry = 0;
        // The pattern's last row may sit anywhere in the final word, so that
        // block alone reads its carry from another bit.
        const std::size_t full_end = last + 1 == words ? last : last + 1;
        for (std::size_t w = first; w < full_end; ++w) {
            advance_block(blocks[w], eq[w], hp_carry, hn_carry, 63);
            scores[w] = scores[w] + hp_carry - hn_carry;
        }
        if (full_end == last) {
            advance_block(blocks[last], eq[last], hp_carry, hn_carry, last_bit);
            scores[last] = scores[last] + hp_carry - hn_carry;
        }
        if (j % kBandStep != 0) continue;

        const std::uint64_t finish = std::max(m - rows_through(last), n - j);
        bound = std::min(bound, static_cast<std::int64_t>(scores[last] + finish));
        const std::int64_t next = static_cast<std::int64_t>(j) + 1;
        const std::int64_t next_step_end = static_cast<std::int64_t>(j + kBandStep);
        const std::size_t new_last = block_of_row(next_step_end + (bound - excess) / 2);
        for (; last < new_last; ++last) {
            blocks[last + 1] = BlockVectors{};
            scores[last + 1] = scores[last] + (rows_through(last + 1) - rows_through(last));
        }
        last = new_last;
        first = std::min(std::max(first, block_of_row(next - (bound + excess) / 2)), last);
    }
    return scores[words - 1];
}

// Patterns of 65 to 128 characters: both blocks stay in registers and
// every column is computed in full, cheaper at this size than the band's
// bookkeeping.
template <class Reader>
std::uint64_t distance_two_words(const BlockMasks<char32_t>& masks, std::size_t m, Reader text) {
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    BlockVectors low, high;
    std::uint64_t score = m;
    while (!text.done()) {
        const std::uint64_t* eq = masks.get(text.next());
        std::uint64_t hp_carry = 1;
        std::uint64_t hn_carry = 0;
        advance_block(low, eq[0], hp_carry, hn_carry, 63);
        advance_block(high, eq[1], hp_carry, hn_carry, last_bit);
        score = score + hp_carry - hn_carry;
    }
    return score;
}

template <class PatternReader, class TextReader>
std::uint64_t distance_bit_parallel(std::string_view pattern, std::size_t m, std::string_view text, std::size_t n) {
    if (m <= kWordBits) {
        SingleWordMasks masks{PatternReader(pattern)};
        return distance_single_word(masks, m, TextReader(text));
    }
    PatternReader reader(pattern);
    BlockMasks<char32_t> masks(m, [&] { return reader.next(); });
    if (m <= 2 * kWordBits) return distance_two_words(masks, m, TextReader(text));
    return distance_blocks(masks, m, n, TextReader(text));
}

inline bool continuation_at(std::string_view s, std::size_t i) noexcept {
    return i < s.size() && utf8::is_continuation(static_cast<unsigned char>(s[i]));
}

}  // namespace

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b) {
    if (a == b) return 0;

    // Common prefix and suffix never change the distance; cut them at
    // character boundaries so that both remainders stay valid UTF-8.
    std::size_t prefix = std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin();
    while (prefix > 0 && (continuation_at(a, prefix) || continuation_at(b, prefix))) --prefix;
    a.remove_prefix(prefix);
    b.remove_prefix(prefix);
    std::size_t suffix = 0;
    const std::size_t max_suffix = std::min(a.size(), b.size());
    while (suffix < max_suffix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
    while (suffix > 0 && (continuation_at(a, a.size() - suffix) || continuation_at(b, b.size() - suffix))) --suffix;
    a.remove_suffix(suffix);
    b.remove_suffix(suffix);

    std::size_t count_a = utf8::count_chars(a);
    std::size_t count_b = utf8::count_chars(b);
    if (count_a > count_b) {
        std::swap(a, b);
        std::swap(count_a, count_b);
    }
    if (count_a == 0) return count_b;

    const bool pattern_ascii = count_a == a.size();
    const bool text_ascii = count_b == b.size();
    if (pattern_ascii && text_ascii) return distance_bit_parallel<AsciiReader, AsciiReader>(a, count_a, b, count_b);
    if (pattern_ascii) return distance_bit_parallel<AsciiReader, Utf8Reader>(a, count_a, b, count_b);
    if (text_ascii) return distance_bit_parallel<Utf8Reader, AsciiReader>(a, count_a, b, count_b);
    return distance_bit_parallel<Utf8Reader, Utf8Reader>(a, count_a, b, count_b);
}

double levenshtein_similarity(std::string_view a, std::string_view b) {
    const std::size_t m = std::max(utf8::count_chars(a), utf8::count_chars(b));
    if (m == 0) return 1.0;
    const double d = static_cast<double>(levenshtein_distance(a, b));
    return 1.0 - d / static_cast<double>(m);
}

}  // namespace vorn::algo
