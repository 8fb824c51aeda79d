// The character masks of a text for the bit-parallel algorithms: bit j of
// the mask of c is set when character j of the text is c.
//
// WordMasks holds a text of at most 64 characters in one word per
// character, on the stack. BlockMasks holds a text of any length in 64-bit
// blocks. ASCII characters have dense rows in a direct table (two words per
// character of the text). A character beyond ASCII gets a dense row of
// every block only when it occurs often enough to pay for it (at least
// words / kDenseShare times); rarer ones keep just their non-zero blocks,
// as (block, bits) pairs. Memory therefore stays a small multiple of the
// text's length whatever its alphabet, and common alphabets, whose
// characters repeat, keep the dense rows the inner loops want.
//
// Both classes keep small tables inside themselves, so they stay where they
// are made (no copy, no move).
//
// AsciiWordMasks and BmpWordMasks give the same masks as WordMasks for a
// text of at most 64 characters (ASCII, or all below U+10000) without
// tables: they keep the text in SSE2 registers and compare each character
// asked for with all of it. They serve a pattern compared once, where
// clearing and filling WordMasks' tables costs more than the comparison.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "support/flat_hash_table.hpp"

namespace vorn::algo {

inline constexpr std::size_t kWordBits = 64;

// The characters of a decoded text beyond ASCII (sizes the tables below).
inline std::size_t count_beyond_ascii(std::u32string_view text) noexcept {
    std::size_t count = 0;
    for (char32_t c : text) count += c >= 128;
    return count;
}

// Masks of a text of at most 64 characters.
class WordMasks {
public:
    // `text` is a code-point range of at most 64 characters, of which
    // about `non_ascii` lie beyond ASCII (this sizes a table).
    template <class CodePointRange>
    WordMasks(const CodePointRange& text, std::size_t non_ascii) {
        std::memset(ascii_, 0, sizeof ascii_);
        fill(text, non_ascii);
    }

    // Masks read only with the characters of `reader` (one comparison):
    // for a short reader only the entries the two texts touch are cleared,
    // not all 128.
    template <class CodePointRange>
    WordMasks(const CodePointRange& text, std::size_t non_ascii, std::string_view reader) {
        if (reader.size() > 128) {
            std::memset(ascii_, 0, sizeof ascii_);
        } else {
            for (unsigned char byte : reader)
                if (byte < 128) ascii_[byte] = 0;
            for (char32_t c : text)
                if (c < 128) ascii_[c] = 0;
        }
        fill(text, non_ascii);
    }

    std::uint64_t get(char32_t c) const noexcept {
        if (c < 128) return ascii_[c];
        const std::uint64_t* bits = others_.find(c);
        return bits ? *bits : 0;
    }

private:
    template <class CodePointRange>
    void fill(const CodePointRange& text, std::size_t non_ascii) {
        std::uint64_t bit = 1;
        if (non_ascii != 0) others_.reset(non_ascii);  // only texts beyond ASCII need the room
        others_.fill([&](auto&& insert) {
            for (char32_t c : text) {
                if (c < 128) ascii_[c] |= bit;
                else *insert(c).first |= bit;
                bit <<= 1;
            }
        });
    }

    std::uint64_t ascii_[128];
    // The masks of the characters beyond ASCII; key 0 (ASCII, never
    // stored) is the free key.
    support::FlatHashMap<char32_t, std::uint64_t, support::IntegerHash, std::equal_to<>, 2 * kWordBits> others_;
};

#if defined(__SSE2__)
// Masks of an ASCII text of at most 64 characters, found for each
// character when it is asked for by comparing it with all of the text's
// bytes at once (Chunks 16-byte registers hold the text). There is nothing
// to clear or fill, which for a single comparison of short texts costs
// more than the comparisons; a cached pattern, read many times, is better
// served by WordMasks' table.
template <unsigned Chunks>
class AsciiWordMasks {
public:
    static_assert(Chunks >= 1 && Chunks <= 4);

    // `text` is ASCII, at most 16 * Chunks bytes.
    explicit AsciiWordMasks(std::string_view text) noexcept
        : valid_(text.size() == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << text.size()) - 1) {
        alignas(16) char bytes[16 * Chunks] = {};
        std::memcpy(bytes, text.data(), text.size());
        for (unsigned i = 0; i < Chunks; ++i)
            chunks_[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    }

    std::uint64_t get(char32_t c) const noexcept {
        if (c >= 128) return 0;
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(c));
        std::uint64_t bits = 0;
        for (unsigned i = 0; i < Chunks; ++i) {
            const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunks_[i], wanted)));
            bits |= std::uint64_t{equal} << (16 * i);
        }
        return bits & valid_;  // not the zero bytes after the text
    }

private:
    __m128i chunks_[Chunks];
    std::uint64_t valid_;
};

// Masks of a text of at most 8 * Registers characters, all in the Basic
// Multilingual Plane, found as AsciiWordMasks finds them, with eight UTF-16
// code units to a register; the comparisons of two registers are packed
// into one 16-bit mask.
template <unsigned Registers>
class BmpWordMasks {
public:
    static_assert(Registers % 2 == 0 && Registers >= 2 && Registers <= 8);

    // `points` holds the text's `length` characters, at most 8 * Registers,
    // all below U+10000.
    BmpWordMasks(const char32_t* points, std::size_t length) noexcept
        : valid_(length == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1) {
        alignas(16) std::uint16_t units[8 * Registers] = {};
        for (std::size_t j = 0; j < length; ++j) units[j] = static_cast<std::uint16_t>(points[j]);
        for (unsigned i = 0; i < Registers; ++i)
            registers_[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(units + 8 * i));
    }

    std::uint64_t get(char32_t c) const noexcept {
        if (c > 0xFFFF) return 0;
        const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
        std::uint64_t bits = 0;
        for (unsigned i = 0; i < Registers; i += 2) {
            // All-ones lanes stay all ones through the saturating pack.
            const __m128i both =
                _mm_packs_epi16(_mm_cmpeq_epi16(registers_[i], wanted), _mm_cmpeq_epi16(registers_[i + 1], wanted));
            bits |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(both))} << (8 * i);
        }
        return bits & valid_;  // not the zero lanes after the text
    }

private:
    __m128i registers_[Registers];
    std::uint64_t valid_;
};

// Calls use(masks) with the register-compared masks that fit a pattern of
// `length` characters compared once, `code_points` being its walk, and
// returns what use returns; nullopt when none fit: an empty pattern, one
// of more than 64 characters, or one with a character beyond U+FFFF.
// Always inlined: out of line it measured 10% slower on short comparisons.
template <class CodePointRange, class Use>
__attribute__((always_inline)) inline auto with_register_masks(std::string_view pattern,
                                                               const CodePointRange& code_points, std::size_t length,
                                                               bool ascii, Use&& use)
    -> std::optional<decltype(use(std::declval<const AsciiWordMasks<1>&>()))> {
    if (length == 0 || length > kWordBits) return std::nullopt;
    if (ascii) {
        switch ((length + 15) / 16) {
            case 1: return use(AsciiWordMasks<1>(pattern));
            case 2: return use(AsciiWordMasks<2>(pattern));
            case 3: return use(AsciiWordMasks<3>(pattern));
            default: return use(AsciiWordMasks<4>(pattern));
        }
    }
    char32_t points[kWordBits];
    char32_t any = 0;  // every bit of any character
    std::size_t j = 0;
    for (char32_t c : code_points) {
        points[j++] = c;
        any |= c;
    }
    if (any > 0xFFFF) return std::nullopt;
    switch ((length + 15) / 16) {
        case 1: return use(BmpWordMasks<2>(points, length));
        case 2: return use(BmpWordMasks<4>(points, length));
        case 3: return use(BmpWordMasks<6>(points, length));
        default: return use(BmpWordMasks<8>(points, length));
    }
}

// The same for a decoded pattern.
template <class Use>
__attribute__((always_inline)) inline auto with_register_masks(std::u32string_view pattern, Use&& use)
    -> std::optional<decltype(use(std::declval<const BmpWordMasks<2>&>()))> {
    if (pattern.empty() || pattern.size() > kWordBits) return std::nullopt;
    if (*std::max_element(pattern.begin(), pattern.end()) > 0xFFFF) return std::nullopt;
    switch ((pattern.size() + 15) / 16) {
        case 1: return use(BmpWordMasks<2>(pattern.data(), pattern.size()));
        case 2: return use(BmpWordMasks<4>(pattern.data(), pattern.size()));
        case 3: return use(BmpWordMasks<6>(pattern.data(), pattern.size()));
        default: return use(BmpWordMasks<8>(pattern.data(), pattern.size()));
    }
}
#endif

// Masks of a text of any length, in blocks of 64 characters.
class BlockMasks {
public:
    // A non-zero block of a sparse row.
    struct BlockBits {
        std::size_t block;
        std::uint64_t bits;
    };

    // A character's row: dense (`dense[w]` for every block w) or sparse
    // (the non-zero blocks in increasing order). `id` numbers the rows
    // below row_count(): ASCII characters are 0..127, 128 stands for every
    // character that does not occur, the others follow.
    struct Row {
        const std::uint64_t* dense;  // null for a sparse row
        const BlockBits* sparse_begin;
        const BlockBits* sparse_end;
        std::size_t id;
    };

    static constexpr std::size_t kAbsentId = 128;
    // A character beyond ASCII gets a dense row when it occurs at least
    // words / kDenseShare times, so dense rows cost at most kDenseShare
    // words per character of the text.
    static constexpr std::size_t kDenseShare = 4;

    // `text` is a code-point range of `length` characters, of which about
    // `non_ascii` lie beyond ASCII (this sizes a table).
    template <class CodePointRange>
    BlockMasks(const CodePointRange& text, std::size_t length, std::size_t non_ascii)
        : words_((length + kWordBits - 1) / kWordBits), ascii_(128 * words_, 0), dense_(words_, 0) {
        // In a text of at most kDenseShare blocks every row is dense and is
        // made on the character's first occurrence; longer texts note the
        // other characters first and place their rows once counted.
        const bool all_dense = words_ <= kDenseShare;
        std::vector<Occurrence> others;
        if (all_dense && non_ascii != 0) {
            rows_.reset(non_ascii);
            dense_.reserve((std::min(non_ascii, length) + 1) * words_);  // a row a distinct character at most
        }
        std::size_t j = 0;
        rows_.fill([&](auto&& insert) {
            for (char32_t c : text) {
                const std::size_t block = j / kWordBits;
                const std::uint64_t bit = std::uint64_t{1} << (j % kWordBits);
                ++j;
                if (c < 128) {
                    ascii_[c * words_ + block] |= bit;
                } else if (all_dense) {
                    const auto [row, inserted] = insert(c);
                    if (inserted) {
                        *row = {static_cast<std::uint32_t>(chars_.size()), CharRow::kDense, dense_.size()};
                        chars_.push_back(c);
                        dense_.resize(dense_.size() + words_, 0);
                    }
                    dense_[row->start + block] |= bit;
                } else {
                    others.push_back({j - 1, c});
                }
            }
        });
        if (!others.empty()) place_rows(others);
    }

    std::size_t words() const noexcept { return words_; }
    std::size_t row_count() const noexcept { return 129 + chars_.size(); }

    Row find(char32_t c) const noexcept {
        if (c < 128) return {&ascii_[c * words_], nullptr, nullptr, c};
        const CharRow* row = rows_.find(c);
        if (row == nullptr) return {dense_.data(), nullptr, nullptr, kAbsentId};
        const std::size_t id = 129 + std::size_t{row->number};
        if (row->dense()) return {&dense_[row->start], nullptr, nullptr, id};
        const BlockBits* begin = sparse_.data() + row->start;
        return {nullptr, begin, begin + row->pairs, id};
    }

    // Reads a row's blocks in increasing order: next(w) gives block w's
    // bits, w counting up from 0 one call at a time.
    class RowReader {
    public:
        explicit RowReader(const Row& row) noexcept : row_(row), sparse_(row.sparse_begin) {}

        std::uint64_t next(std::size_t w) noexcept {
            if (row_.dense) return row_.dense[w];
            if (sparse_ == row_.sparse_end || sparse_->block != w) return 0;
            return (sparse_++)->bits;
        }

    private:
        Row row_;
        const BlockBits* sparse_;
    };

    // Whether the row has bit j (character j of the text is the row's).
    static bool has(const Row& row, std::size_t j) noexcept {
        const std::uint64_t bit = std::uint64_t{1} << (j % kWordBits);
        if (row.dense) return (row.dense[j / kWordBits] & bit) != 0;
        const BlockBits* at = first_at_or_after(row, j / kWordBits);
        return at != row.sparse_end && at->block == j / kWordBits && (at->bits & bit) != 0;
    }

    // The first non-zero block of a sparse row at or after `block`.
    static const BlockBits* first_at_or_after(const Row& row, std::size_t block) noexcept {
        return std::lower_bound(row.sparse_begin, row.sparse_end, block,
                                [](const BlockBits& x, std::size_t b) { return x.block < b; });
    }

    // Every row of a text of at most kDenseShare blocks is dense.
    const std::uint64_t* dense_row(char32_t c) const noexcept { return find(c).dense; }

private:
    struct Occurrence {
        std::size_t position;
        char32_t c;
    };

    // Where a character's row is: at dense_[start] (pairs == kDense), or
    // its `pairs` non-zero blocks from sparse_[start].
    struct CharRow {
        static constexpr std::uint32_t kDense = ~std::uint32_t{0};
        std::uint32_t number;  // its id is 129 + number
        std::uint32_t pairs;
        std::size_t start;
        bool dense() const noexcept { return pairs == kDense; }
    };

    // Counts the characters beyond ASCII, then places their rows: dense
    // ones after the zero row, sparse ones with room for one pair per
    // occurrence.
    void place_rows(const std::vector<Occurrence>& others) {
        rows_.reset(std::max(others.size() / 2, std::size_t{1}));  // most characters repeat; it grows if not
        for (const Occurrence& at : others) {
            const auto [row, inserted] = rows_.insert(at.c);
            if (inserted) {
                *row = {static_cast<std::uint32_t>(chars_.size()), 0, 0};
                chars_.push_back(at.c);
            }
            ++row->start;  // the count, for now
        }
        std::size_t dense_rows = 1, sparse_pairs = 0;
        for (char32_t c : chars_) {
            CharRow& row = *rows_.find(c);
            const std::size_t count = row.start;
            if (count * kDenseShare >= words_) {
                row.pairs = CharRow::kDense;
                row.start = dense_rows++ * words_;
            } else {
                row.start = sparse_pairs;
                sparse_pairs += count;
            }
        }
        dense_.resize(dense_rows * words_, 0);
        sparse_.resize(sparse_pairs);
        for (const Occurrence& at : others) {
            CharRow& row = *rows_.find(at.c);
            const std::size_t block = at.position / kWordBits;
            const std::uint64_t bit = std::uint64_t{1} << (at.position % kWordBits);
            if (row.dense()) {
                dense_[row.start + block] |= bit;
                continue;
            }
            BlockBits* pairs = sparse_.data() + row.start;
            if (row.pairs > 0 && pairs[row.pairs - 1].block == block) pairs[row.pairs - 1].bits |= bit;
            else pairs[row.pairs++] = {block, bit};
        }
    }

    std::size_t words_;
    std::vector<std::uint64_t> ascii_;
    std::vector<std::uint64_t> dense_;  // the zero row, then the dense rows
    std::vector<BlockBits> sparse_;
    // The rows of the characters beyond ASCII, inline until there are
    // any; key 0 (ASCII, never stored) is the free key.
    support::FlatHashMap<char32_t, CharRow, support::IntegerHash, std::equal_to<>, 16> rows_;
    std::vector<char32_t> chars_;  // by number
};

}  // namespace vorn::algo
