// Bit-parallel edit distance (Myers 1999, in Hyyro's 2003 formulation).
//
// One text is the pattern: one bit per pattern character in a 64-bit word,
// or a row of words for longer patterns (char_masks.hpp). The other text is
// streamed once. The free functions take the shorter text as the pattern,
// so memory is proportional to it.
#include "algo/levenshtein.hpp"

#include <algorithm>
#include <vector>

#include "algo/editops.hpp"
#include "algo/lcs_seq.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

template <class Masks, class CodePointRange>
std::uint64_t distance_single_word(const Masks& masks, std::size_t m, const CodePointRange& text) {
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = m == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << m) - 1;
    std::uint64_t vn = 0;
    std::uint64_t score = m;
    // The steps are those of the formulation, arranged for a shorter chain
    // of dependent instructions from one character to the next: vp and vn
    // never share a bit, so (eq | vn) & vp is eq & vp, which does not wait
    // for vn; and the complement of hp is carried instead of hp itself,
    // which saves the complements on the way to the next vp and vn.
    for (char32_t c : text) {
        const std::uint64_t eq = masks.get(c);
        const std::uint64_t d0 = (((eq & vp) + vp) ^ vp) | eq | vn;
        const std::uint64_t not_hp = (d0 | vp) & ~vn;
        const std::uint64_t hn = vp & d0;
        score += (not_hp & last) == 0;
        score -= (hn & last) != 0;
        const std::uint64_t not_hp_shifted = not_hp << 1;  // the complement of (hp << 1) | 1
        vp = (hn << 1) | (not_hp_shifted & ~d0);
        vn = d0 & ~not_hp_shifted;
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
inline void advance_block(BlockVectors& block, std::uint64_t eq, std::uint64_t& hp_carry, std::uint64_t& hn_carry,
                          unsigned high) noexcept {
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

// Patterns of 65 to 128 characters: both blocks stay in registers and
// every column is computed in full, cheaper at this size than the band's
// bookkeeping. Every row of so short a pattern is dense.
template <class CodePointRange>
std::uint64_t distance_two_words(const BlockMasks& masks, std::size_t m, const CodePointRange& text) {
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    BlockVectors low, high;
    std::uint64_t score = m;
    for (char32_t c : text) {
        const std::uint64_t* eq = masks.dense_row(c);
        std::uint64_t hp_carry = 1;
        std::uint64_t hn_carry = 0;
        advance_block(low, eq[0], hp_carry, hn_carry, 63);
        advance_block(high, eq[1], hp_carry, hn_carry, last_bit);
        score = score + hp_carry - hn_carry;
    }
    return score;
}

// A character's mask words for every block: its dense row, or its sparse
// blocks spread into a zeroed scratch row (and cleared again by release).
class EqWords {
public:
    explicit EqWords(std::size_t words) : scratch_(words, 0) {}

    const std::uint64_t* load(const BlockMasks::Row& row) noexcept {
        release();
        if (row.dense) return row.dense;
        for (const auto* p = row.sparse_begin; p != row.sparse_end; ++p) scratch_[p->block] = p->bits;
        spread_ = row;
        return scratch_.data();
    }

    void release() noexcept {
        for (const auto* p = spread_.sparse_begin; p != spread_.sparse_end; ++p) scratch_[p->block] = 0;
        spread_ = {};
    }

private:
    std::vector<std::uint64_t> scratch_;
    BlockMasks::Row spread_{};
};

// Only cells that can lie on an alignment no dearer than the best bound
// known so far are computed (Ukkonen's band). For a cell in column j and
// row i, on diagonal k = j - i, such an alignment costs at least
// |k| + |n - m - k|, so the rows of column j that matter are
//   j - (bound + n - m) / 2  ..  j + (bound - n + m) / 2.
// Blocks above the band are no longer advanced and feed their lower
// neighbour a +1 delta; blocks entering the band start from +1 deltas.
// Both overestimate cells outside the band, never those inside it, so the
// distance comes out exact whenever it is at most the bound. The bound
// starts at the caller's (at most max(m, n)) and shrinks with the cost of
// finishing from the band's last row. A wider band than needed only costs
// time.
//
// Columns are taken in pairs: block w of column j is independent of block
// w - 1 of column j + 1, so the two carry chains interleave and the
// processor runs them side by side.
template <class CodePointRange>
std::uint64_t distance_blocks(const BlockMasks& masks, std::size_t m, std::size_t n, const CodePointRange& text,
                              std::uint64_t initial_bound) {
    const std::size_t words = masks.words();
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    const auto high_bit = [&](std::size_t w) { return w + 1 == words ? last_bit : 63u; };
    const auto rows_through = [m](std::size_t w) { return std::min(m, (w + 1) * kWordBits); };
    const auto block_of_row = [m](std::int64_t row) {
        return static_cast<std::size_t>(std::clamp<std::int64_t>(row, 1, static_cast<std::int64_t>(m)) - 1) / kWordBits;
    };
    const std::int64_t excess = static_cast<std::int64_t>(n) - static_cast<std::int64_t>(m);

    std::vector<BlockVectors> blocks(words);
    EqWords eq_first(words), eq_second(words);
    const auto step = [&](std::size_t w, const std::uint64_t* eq, std::uint64_t& hp, std::uint64_t& hn, unsigned high) {
        advance_block(blocks[w], eq[w], hp, hn, high);
    };

    // The band is recomputed every kBandStep columns (an even number, so
    // no pair of columns straddles it), wide enough for all of them, which
    // keeps its bookkeeping off the per-column path.
    constexpr std::size_t kBandStep = 16;
    std::int64_t bound = static_cast<std::int64_t>(initial_bound);
    std::size_t first = 0;
    std::size_t last = block_of_row(static_cast<std::int64_t>(kBandStep) + (bound - excess) / 2);
    std::uint64_t score = rows_through(last);  // distance at the last row of block `last`, current column
    auto it = text.begin();
    for (std::size_t j = 0; j < n;) {
        const std::uint64_t* eq1 = eq_first.load(masks.find(*it));
        ++it;
        std::uint64_t hp1 = 1, hn1 = 0;
        if (j + 1 == n) {  // the last column of an odd count, alone
            for (std::size_t w = first; w <= last; ++w) step(w, eq1, hp1, hn1, high_bit(w));
            score = score + hp1 - hn1;
            ++j;
        } else {
            const std::uint64_t* eq2 = eq_second.load(masks.find(*it));
            ++it;
            std::uint64_t hp2 = 1, hn2 = 0;
            if (first == last) {
                step(first, eq1, hp1, hn1, high_bit(first));
                step(first, eq2, hp2, hn2, high_bit(first));
            } else {
                step(first, eq1, hp1, hn1, 63);
                for (std::size_t w = first + 1; w < last; ++w) {
                    step(w, eq1, hp1, hn1, 63);
                    step(w - 1, eq2, hp2, hn2, 63);
                }
                step(last, eq1, hp1, hn1, high_bit(last));
                step(last - 1, eq2, hp2, hn2, 63);
                step(last, eq2, hp2, hn2, high_bit(last));
            }
            score = score + hp1 - hn1 + hp2 - hn2;
            j += 2;
        }
        if (j % kBandStep != 0 || j == n) continue;

        const std::uint64_t finish = std::max(m - rows_through(last), n - j);
        bound = std::min(bound, static_cast<std::int64_t>(score + finish));
        const std::int64_t next = static_cast<std::int64_t>(j) + 1;
        const std::int64_t next_step_end = static_cast<std::int64_t>(j + kBandStep);
        // The band's lower edge only moves down (keeping a block it could
        // drop costs only time), and new blocks start from +1 deltas.
        const std::size_t new_last = std::max(last, block_of_row(next_step_end + (bound - excess) / 2));
        std::fill(blocks.begin() + static_cast<std::ptrdiff_t>(last + 1),
                  blocks.begin() + static_cast<std::ptrdiff_t>(new_last + 1), BlockVectors{});
        score += rows_through(new_last) - rows_through(last);
        last = new_last;
        first = std::min(std::max(first, block_of_row(next - (bound + excess) / 2)), last);
    }
    // The last row always lies in the band by the end; were it not, +1
    // deltas below the band would give an upper bound.
    return score + (rows_through(words - 1) - rows_through(last));
}

}  // namespace

namespace detail {

const EditPatterns& edit_patterns() noexcept {
    static const EditPatterns patterns = [] {
        EditPatterns built{};
        for (std::uint64_t k = 1; k <= kSmallDistance; ++k) {
            unsigned combinations = 1;
            for (std::uint64_t step = 0; step < k; ++step) combinations *= 3;
            for (unsigned index = 0; index < combinations; ++index) {
                unsigned code = 0, rest = index;
                int skew = 0;  // characters of the longer text skipped beyond the shorter's
                for (std::uint64_t step = 0; step < k; ++step, rest /= 3) {
                    const unsigned op = rest % 3 + 1;
                    skew += op == 1 ? 1 : op == 2 ? -1 : 0;
                    code |= op << (2 * step);
                }
                if (skew < 0) continue;
                auto& count = built.counts[k][skew];
                built.codes[k][skew][count++] = static_cast<std::uint8_t>(code);
            }
        }
        return built;
    }();
    return patterns;
}

}  // namespace detail

CachedLevenshtein::CachedLevenshtein(std::string_view pattern)
    : CachedLevenshtein(pattern, utf8::count_chars(pattern), utf8::is_ascii(pattern)) {}

CachedLevenshtein::CachedLevenshtein(std::string_view pattern, std::size_t length, bool ascii) : length_(length) {
    if (length == 0) return;
    const std::size_t non_ascii = ascii ? 0 : utf8::count_non_ascii(pattern);
    const auto build = [&](const auto& code_points) {
        if (length <= kWordBits) masks_.emplace<WordMasks>(code_points, non_ascii);
        else masks_.emplace<BlockMasks>(code_points, length, non_ascii);
    };
    if (ascii) build(text::AsciiCodePoints(pattern));
    else build(text::CodePoints(pattern));
}

std::uint64_t CachedLevenshtein::distance_to(std::string_view other, std::size_t n, bool other_ascii,
                                             std::uint64_t max_distance) const {
    const std::size_t m = length_;
    const std::uint64_t gap = m > n ? m - n : n - m;
    if (gap > max_distance) return max_distance + 1;  // never below the length difference
    if (m == 0 || n == 0) return gap;
    const auto run = [&](const auto& text) -> std::uint64_t {
        if (m <= kWordBits) return distance_single_word(*std::get_if<WordMasks>(&masks_), m, text);
        const auto& masks = *std::get_if<BlockMasks>(&masks_);
        if (m <= 2 * kWordBits) return distance_two_words(masks, m, text);
        const std::uint64_t bound = std::min<std::uint64_t>(std::max(m, n), max_distance);
        return distance_blocks(masks, m, n, text, bound);
    };
    const std::uint64_t d = other_ascii ? run(text::AsciiCodePoints(other)) : run(text::CodePoints(other));
    return std::min(d, max_distance + 1);
}

std::uint64_t CachedLevenshtein::distance(std::string_view other, std::uint64_t max_distance) const {
    // The cap keeps max_distance + 1 from wrapping; no distance reaches it.
    max_distance = std::min<std::uint64_t>(max_distance, UINT64_MAX - 1);
    return distance_to(other, utf8::count_chars(other), utf8::is_ascii(other), max_distance);
}

std::uint64_t CachedLevenshtein::distance(std::string_view other) const { return distance(other, UINT64_MAX - 1); }

double CachedLevenshtein::similarity(std::string_view other) const {
    const std::size_t n = utf8::count_chars(other);
    const std::size_t m = std::max(length_, n);
    if (m == 0) return 1.0;
    const double d = static_cast<double>(distance_to(other, n, utf8::is_ascii(other), UINT64_MAX - 1));
    return 1.0 - d / static_cast<double>(m);
}

namespace {

inline bool continuation_at(std::string_view s, std::size_t i) noexcept {
    return i < s.size() && utf8::is_continuation(static_cast<unsigned char>(s[i]));
}

}  // namespace

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b) {
    if (a == b) return 0;

    // Common prefix and suffix never change the distance; cut them at
    // character boundaries so that both remainders stay valid UTF-8.
    std::size_t prefix =
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin();
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
    // The shorter text is the pattern.
#if defined(__SSE2__)
    // A short pattern compared once: its masks are found by comparing in
    // registers rather than built into tables.
    const auto distance =
        with_register_masks(a, text::CodePoints(a), count_a, count_a == a.size(), [&](const auto& masks) {
            return count_b == b.size() ? distance_single_word(masks, count_a, text::AsciiCodePoints(b))
                                       : distance_single_word(masks, count_a, text::CodePoints(b));
        });
    if (distance) return *distance;
#endif
    const CachedLevenshtein pattern(a, count_a, count_a == a.size());
    return pattern.distance_to(b, count_b, count_b == b.size(), UINT64_MAX - 1);
}

double levenshtein_similarity(std::string_view a, std::string_view b) {
    const std::size_t m = std::max(utf8::count_chars(a), utf8::count_chars(b));
    if (m == 0) return 1.0;
    const double d = static_cast<double>(levenshtein_distance(a, b));
    return 1.0 - d / static_cast<double>(m);
}

namespace {

// Wagner-Fischer over one row of b.
std::uint64_t weighted_table(std::u32string_view a, std::u32string_view b, const LevenshteinWeights& weights) {
    std::vector<std::uint64_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j * weights.insertion;
    for (char32_t c : a) {
        std::uint64_t diagonal = row[0];
        row[0] += weights.deletion;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::uint64_t above = row[j];
            row[j] = std::min({above + weights.deletion, row[j - 1] + weights.insertion,
                               diagonal + (c == b[j - 1] ? 0 : weights.substitution)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::uint64_t levenshtein_weighted_distance(std::string_view a, std::string_view b, const LevenshteinWeights& weights) {
    if (weights.insertion == weights.deletion) {
        const std::uint64_t indel = weights.insertion;
        if (indel == 0) return 0;
        // Equal costs scale the unit-cost distance; substitutions dearer
        // than a deletion and an insertion are never used.
        if (weights.substitution == indel) return levenshtein_distance(a, b) * indel;
        if (weights.substitution >= 2 * indel)
            return indel_distance(text::decode_code_points(a), text::decode_code_points(b)) * indel;
    }
    return weighted_table(text::decode_code_points(a), text::decode_code_points(b), weights);
}

std::uint64_t levenshtein_maximum(std::size_t length_a, std::size_t length_b, const LevenshteinWeights& weights) {
    std::uint64_t maximum = length_a * weights.deletion + length_b * weights.insertion;
    if (length_a >= length_b)
        maximum = std::min<std::uint64_t>(maximum,
                                          length_b * weights.substitution + (length_a - length_b) * weights.deletion);
    else
        maximum = std::min<std::uint64_t>(maximum,
                                          length_a * weights.substitution + (length_b - length_a) * weights.insertion);
    return maximum;
}

namespace {

// The distances of every prefix of `source` to all of `text`: entry i is
// the distance of source's first i characters (the last matrix row).
std::vector<std::size_t> last_row_distances(std::u32string_view source, std::u32string_view text) {
    std::vector<std::size_t> row(source.size() + 1, text.size());
    if (source.empty()) return row;
    const std::size_t m = source.size();
    const BlockMasks masks(source, m, count_beyond_ascii(source));
    const std::size_t words = masks.words();
    const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
    std::vector<BlockVectors> blocks(words);
    EqWords eq_words(words);
    for (char32_t c : text) {
        const std::uint64_t* eq = eq_words.load(masks.find(c));
        std::uint64_t hp_carry = 1, hn_carry = 0;
        for (std::size_t w = 0; w < words; ++w)
            advance_block(blocks[w], eq[w], hp_carry, hn_carry, w + 1 == words ? last_bit : 63u);
    }
    for (std::size_t i = 1; i <= m; ++i) {
        const std::size_t w = (i - 1) / kWordBits, bit = (i - 1) % kWordBits;
        row[i] = row[i - 1] + ((blocks[w].vp >> bit) & 1) - ((blocks[w].vn >> bit) & 1);
    }
    return row;
}

// Walks the whole matrix back. It keeps every row's vertical deltas along
// the source: bit col - 1 of vp (vn) in row row - 1 is set when cell
// (col, row) is one more (one less) than cell (col - 1, row). A +1 there
// means the cell is reached by a deletion; a -1 in the row above, by an
// insertion.
void append_matrix_edits(std::u32string_view source, std::u32string_view dest, std::size_t src_offset,
                         std::size_t dest_offset, std::vector<EditOp>& ops) {
    using namespace editops_detail;
    std::vector<std::uint64_t> vp, vn;
    std::size_t words = 0;
    if (!source.empty() && !dest.empty()) {
        const std::size_t m = source.size();
        const BlockMasks masks(source, m, count_beyond_ascii(source));
        words = masks.words();
        const unsigned last_bit = static_cast<unsigned>((m - 1) % kWordBits);
        vp.resize(dest.size() * words);
        vn.resize(dest.size() * words);
        std::vector<BlockVectors> blocks(words);
        EqWords eq_words(words);
        for (std::size_t row = 0; row < dest.size(); ++row) {
            const std::uint64_t* eq = eq_words.load(masks.find(dest[row]));
            std::uint64_t hp_carry = 1, hn_carry = 0;
            for (std::size_t w = 0; w < words; ++w) {
                advance_block(blocks[w], eq[w], hp_carry, hn_carry, w + 1 == words ? last_bit : 63u);
                vp[row * words + w] = blocks[w].vp;
                vn[row * words + w] = blocks[w].vn;
            }
        }
    }
    walk_back(
        source, dest, src_offset, dest_offset,
        [&](std::size_t row, std::size_t col) { return matrix_bit(vp, words, row, col); },
        [&](std::size_t row, std::size_t col) { return matrix_bit(vn, words, row, col); }, ops);
}

// A matrix of at most this many bytes (two bits a cell of the band a
// distance of `max` allows) is walked whole; larger pairs are split.
bool matrix_is_small(std::size_t source_length, std::size_t dest_length, std::size_t max) {
    const std::size_t band = std::min(source_length, 2 * max + 1);
    return 2 * band * dest_length / 8 < 1024 * 1024 || source_length < 65 || dest_length < 10;
}

// Edits of a pair whose distance is at most `max`, without its common
// affixes: the matrix walk, or Hirschberg's split at the middle destination
// character and the first source position where a cheapest alignment
// crosses it.
void align(std::u32string_view source, std::u32string_view dest, std::size_t max, std::size_t src_offset,
           std::size_t dest_offset, std::vector<EditOp>& ops) {
    const TrimmedPair t = trim_common_affixes(source, dest);
    src_offset += t.prefix;
    dest_offset += t.prefix;
    max = std::min(max, std::max(t.a.size(), t.b.size()));
    if (matrix_is_small(t.a.size(), t.b.size(), max)) {
        append_matrix_edits(t.a, t.b, src_offset, dest_offset, ops);
        return;
    }
    const std::size_t m = t.a.size();
    const std::size_t middle = t.b.size() / 2;
    const std::vector<std::size_t> left = last_row_distances(t.a, t.b.substr(0, middle));
    const std::u32string source_reversed(t.a.rbegin(), t.a.rend());
    const std::u32string right_reversed(t.b.rbegin(), t.b.rend() - static_cast<std::ptrdiff_t>(middle));
    // right[k]: distance of the source's last k characters to the right half.
    const std::vector<std::size_t> right = last_row_distances(source_reversed, right_reversed);
    std::size_t split = 0;
    for (std::size_t i = 1; i <= m; ++i)
        if (left[i] + right[m - i] < left[split] + right[m - split]) split = i;
    align(t.a.substr(0, split), t.b.substr(0, middle), left[split], src_offset, dest_offset, ops);
    align(t.a.substr(split), t.b.substr(middle), right[m - split], src_offset + split, dest_offset + middle, ops);
}

}  // namespace

EditScript levenshtein_editops(std::u32string_view source, std::u32string_view dest) {
    const TrimmedPair t = trim_common_affixes(source, dest);
    EditScript script{{}, source.size(), dest.size()};
    // The distance only matters when it decides whether to split.
    const std::size_t upper = std::max(t.a.size(), t.b.size());
    const std::size_t distance =
        matrix_is_small(t.a.size(), t.b.size(), upper) ? upper : last_row_distances(t.a, t.b).back();
    align(t.a, t.b, distance, t.prefix, t.prefix, script.ops);
    return script;
}

}  // namespace vorn::algo
