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
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace vorn::algo {

inline constexpr std::size_t kWordBits = 64;

namespace detail {

// Maps the characters beyond ASCII of one text to dense numbers 0, 1, ...
// in order of first occurrence. Open addressing in a power-of-two table of
// at least twice as many slots as characters can be added; key 0 (ASCII,
// never stored) marks a free slot. With InlineSlots > 0 the table lives
// inside the object and holds at most InlineSlots / 2 characters.
template <std::size_t InlineSlots>
class CharNumbers {
public:
    static constexpr std::uint32_t kAbsent = ~std::uint32_t{0};

    // Empty: finds nothing until prepare().
    CharNumbers() noexcept = default;

    void prepare(std::size_t max_keys) {
        std::size_t capacity = 16;
        while (capacity < 2 * max_keys) capacity <<= 1;
        if constexpr (InlineSlots == 0) {
            keys_.assign(capacity, 0);
            numbers_.resize(capacity);
        } else {
            capacity = InlineSlots;
            std::fill_n(keys_.data(), capacity, char32_t{0});
        }
        shift_ = static_cast<unsigned>(64 - std::countr_zero(capacity));
        mask_ = capacity - 1;
        size_ = 0;
        prepared_ = true;
    }

    bool empty() const noexcept { return size_ == 0; }

    // The number of c (c >= 128), adding it when new; needs prepare().
    std::uint32_t add(char32_t c) noexcept {
        for (std::size_t i = slot(c);; i = (i + 1) & mask_) {
            if (keys_[i] == c) return numbers_[i];
            if (keys_[i] == 0) {
                keys_[i] = c;
                numbers_[i] = size_;
                return size_++;
            }
        }
    }

    std::uint32_t find(char32_t c) const noexcept {
        if (size_ == 0) return kAbsent;
        for (std::size_t i = slot(c);; i = (i + 1) & mask_) {
            if (keys_[i] == c) return numbers_[i];
            if (keys_[i] == 0) return kAbsent;
        }
    }

    bool prepared() const noexcept { return prepared_; }

private:
    std::size_t slot(char32_t c) const noexcept {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(c) * 0x9E3779B97F4A7C15ULL) >> shift_);
    }

    using Keys = std::conditional_t<InlineSlots == 0, std::vector<char32_t>, std::array<char32_t, InlineSlots>>;
    using Numbers =
        std::conditional_t<InlineSlots == 0, std::vector<std::uint32_t>, std::array<std::uint32_t, InlineSlots>>;
    Keys keys_;
    Numbers numbers_;
    unsigned shift_ = 0;
    std::size_t mask_ = 0;
    std::uint32_t size_ = 0;
    bool prepared_ = false;
};

}  // namespace detail

// Masks of a text of at most 64 characters.
class WordMasks {
public:
    // `text` is a code-point range of at most 64 characters.
    template <class CodePointRange>
    explicit WordMasks(const CodePointRange& text) {
        std::memset(ascii_, 0, sizeof ascii_);
        std::uint64_t bit = 1;
        for (char32_t c : text) {
            if (c < 128) {
                ascii_[c] |= bit;
            } else {
                if (!others_.prepared()) others_.prepare(kWordBits);  // only texts beyond ASCII need it
                const std::uint32_t number = others_.add(c);
                if (number == used_) other_bits_[used_++] = 0;
                other_bits_[number] |= bit;
            }
            bit <<= 1;
        }
    }

    std::uint64_t get(char32_t c) const noexcept {
        if (c < 128) return ascii_[c];
        const std::uint32_t number = others_.find(c);
        return number == others_.kAbsent ? 0 : other_bits_[number];
    }

private:
    std::uint64_t ascii_[128];
    std::uint64_t other_bits_[kWordBits];
    std::uint32_t used_ = 0;
    detail::CharNumbers<2 * kWordBits> others_;
};

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

    // `text` is a code-point range of `length` characters; it is walked
    // twice.
    template <class CodePointRange>
    BlockMasks(const CodePointRange& text, std::size_t length)
        : words_((length + kWordBits - 1) / kWordBits), ascii_(128 * words_, 0) {
        // Count each character beyond ASCII.
        std::vector<std::size_t> counts;
        for (char32_t c : text) {
            if (c < 128) continue;
            if (!others_.prepared()) others_.prepare(length);
            const std::uint32_t number = others_.add(c);
            if (number == counts.size()) counts.push_back(0);
            ++counts[number];
        }
        // Place the rows: dense ones after the zero row, sparse ones as
        // ranges with room for one pair per occurrence.
        rows_.resize(counts.size());
        std::size_t dense_rows = 1, sparse_pairs = 0;
        for (std::size_t k = 0; k < counts.size(); ++k) {
            if (counts[k] * kDenseShare >= words_) {
                rows_[k] = {true, dense_rows++ * words_, 0};
            } else {
                rows_[k] = {false, sparse_pairs, 0};
                sparse_pairs += counts[k];
            }
        }
        dense_.assign(dense_rows * words_, 0);
        sparse_.resize(sparse_pairs);
        std::size_t j = 0;
        for (char32_t c : text) {
            const std::size_t block = j / kWordBits;
            const std::uint64_t bit = std::uint64_t{1} << (j % kWordBits);
            ++j;
            if (c < 128) {
                ascii_[c * words_ + block] |= bit;
                continue;
            }
            RowPlace& place = rows_[others_.find(c)];
            if (place.dense) {
                dense_[place.start + block] |= bit;
            } else if (place.used > 0 && sparse_[place.start + place.used - 1].block == block) {
                sparse_[place.start + place.used - 1].bits |= bit;
            } else {
                sparse_[place.start + place.used++] = {block, bit};
            }
        }
    }

    std::size_t words() const noexcept { return words_; }
    std::size_t row_count() const noexcept { return 129 + rows_.size(); }

    Row find(char32_t c) const noexcept {
        if (c < 128) return {&ascii_[c * words_], nullptr, nullptr, c};
        const std::uint32_t number = others_.find(c);
        if (number == others_.kAbsent) return {dense_.data(), nullptr, nullptr, kAbsentId};
        const RowPlace& place = rows_[number];
        if (place.dense) return {&dense_[place.start], nullptr, nullptr, 129 + std::size_t{number}};
        const BlockBits* begin = &sparse_[place.start];
        return {nullptr, begin, begin + place.used, 129 + std::size_t{number}};
    }

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
    struct RowPlace {
        bool dense;
        std::size_t start;  // in dense_ (a whole row) or sparse_ (the first pair)
        std::size_t used;   // pairs in use, for a sparse row
    };

    std::size_t words_;
    std::vector<std::uint64_t> ascii_;
    detail::CharNumbers<0> others_;
    std::vector<RowPlace> rows_;       // by character number
    std::vector<std::uint64_t> dense_;  // the zero row, then the dense rows
    std::vector<BlockBits> sparse_;
};

}  // namespace vorn::algo
