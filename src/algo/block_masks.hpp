// Per-character match masks of a text of any length, for the multi-word
// bit-parallel algorithms: bit j of the row of c is set when character j
// of the text is c, in 64-bit words. ASCII rows sit in a direct table,
// other characters' rows behind an open-addressing table, so memory is
// proportional to the text, whatever its alphabet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorn::algo {

template <class Char>
class BlockMasks {
public:
    static constexpr std::size_t kWordBits = 64;

    // `next()` yields the text's `length` characters in order.
    template <class Next>
    BlockMasks(std::size_t length, Next&& next)
        : words_((length + kWordBits - 1) / kWordBits), ascii_(128 * words_, 0), extended_(words_, 0) {
        for (std::size_t j = 0; j < length; ++j) row(next(), length)[j / kWordBits] |= std::uint64_t{1} << (j % kWordBits);
    }

    std::size_t words() const noexcept { return words_; }

    // A character's row and a dense number for it, below row_count():
    // ASCII characters are 0..127, the others that occur follow, and every
    // character that does not occur outside ASCII shares number 128, whose
    // row is all zero.
    struct Row {
        const std::uint64_t* bits;
        std::size_t id;
    };

    Row find(Char c) const noexcept {
        if (c < 128) return {&ascii_[static_cast<std::size_t>(c) * words_], static_cast<std::size_t>(c)};
        if constexpr (sizeof(Char) > 1) {
            if (keys_.empty()) return {extended_.data(), 128};
            for (std::size_t i = slot_start(c);; i = (i + 1) & mask_) {
                if (keys_[i] == c) return {&extended_[row_of_[i] * words_], 128 + row_of_[i]};
                if (keys_[i] == 0) break;
            }
        }
        return {extended_.data(), 128};
    }

    const std::uint64_t* get(Char c) const noexcept { return find(c).bits; }

    std::size_t row_count() const noexcept { return 128 + extended_.size() / words_; }

private:
    std::size_t slot_start(Char c) const noexcept {
        return ((static_cast<std::uint64_t>(c) * 0x9E3779B97F4A7C15ULL) >> 32) & mask_;
    }

    // Key 0 (ASCII, never stored) marks a free slot; row 0 of extended_
    // stays zero for characters that do not occur.
    // The table for other characters is made on the first of them, with at
    // least twice as many slots as the text has characters.
    std::uint64_t* row(Char c, std::size_t length) {
        if (c < 128) return &ascii_[static_cast<std::size_t>(c) * words_];
        if (keys_.empty()) {
            std::size_t capacity = 16;
            while (capacity < 2 * length) capacity <<= 1;
            keys_.assign(capacity, 0);
            row_of_.resize(capacity);
            mask_ = capacity - 1;
        }
        std::size_t i = slot_start(c);
        while (keys_[i] != c && keys_[i] != 0) i = (i + 1) & mask_;
        if (keys_[i] == 0) {
            keys_[i] = c;
            row_of_[i] = extended_.size() / words_;
            extended_.resize(extended_.size() + words_, 0);
        }
        return &extended_[row_of_[i] * words_];
    }

    std::size_t words_;
    std::vector<std::uint64_t> ascii_;
    std::vector<std::uint64_t> extended_;
    std::vector<Char> keys_;
    std::vector<std::size_t> row_of_;
    std::size_t mask_ = 0;
};

}  // namespace vorn::algo
