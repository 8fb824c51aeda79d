#include "algo/term_tokens.hpp"

#include <array>
#include <bit>

#include "support/hash.hpp"
#include "text/lowercase.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo {
namespace {

// ASCII separators: the whitespace U+0009..U+000D, U+0020 and the 32
// punctuation characters U+0021..U+002F, U+003A..U+0040, U+005B..U+0060,
// U+007B..U+007E.
constexpr std::array<bool, 128> make_ascii_separators() {
    std::array<bool, 128> table{};
    for (unsigned c = 0; c < 128; ++c) {
        bool punctuation = (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
                           (c >= 0x7B && c <= 0x7E);
        table[c] = punctuation || text::is_ascii_whitespace(static_cast<unsigned char>(c));
    }
    return table;
}

constexpr std::array<bool, 128> kAsciiSeparator = make_ascii_separators();

// Calls emit(piece, plain) for every maximal run of non-separators, in
// order; plain is true when the piece is lowercase ASCII already, which
// the scan learns on the way.
template <class Emit>
void for_each_piece(std::string_view text, Emit&& emit) {
    const std::size_t size = text.size();
    // Length of the separator at pos, 0 if none. Non-ASCII characters are
    // stepped over byte by byte: a continuation byte never starts whitespace.
    auto separator_at = [&](std::size_t pos) -> std::size_t {
        const auto byte = static_cast<unsigned char>(text[pos]);
        return byte < 0x80 ? kAsciiSeparator[byte] : text::whitespace_length_at(text, pos);
    };
    std::size_t pos = 0;
    while (pos < size) {
        if (std::size_t separator = separator_at(pos)) {
            pos += separator;
            continue;
        }
        const std::size_t start = pos;
        bool plain = true;
        do {
            const auto byte = static_cast<unsigned char>(text[pos]);
            plain = plain && text::is_lowercase_ascii_byte(byte);
            ++pos;
        } while (pos < size && separator_at(pos) == 0);
        emit(text.substr(start, pos - start), plain);
    }
}

// Open-addressing map from term to dense id, sized once for the number of
// tokens so that it never grows and stays at most half full.
class TermIds {
public:
    TermIds(std::size_t max_terms, std::pmr::memory_resource* memory)
        : bits_(static_cast<int>(std::bit_width(max_terms | 1)) + 1), slots_(std::size_t{1} << bits_, memory),
          keys_(memory) {
        keys_.reserve(max_terms);
    }

    // Id of the term; a new term gets the next id.
    std::size_t insert(std::string_view term) {
        const std::uint64_t h = support::fnv1a(term);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = static_cast<std::size_t>((h * 0x9E3779B97F4A7C15ULL) >> (64 - bits_));; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.id_plus_one == 0) {
                slot = {h, keys_.size() + 1};
                keys_.push_back(term);
                return keys_.size() - 1;
            }
            if (slot.hash == h && keys_[slot.id_plus_one - 1] == term) return slot.id_plus_one - 1;
        }
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::size_t id_plus_one = 0;  // 0: empty
    };
    int bits_;
    std::pmr::vector<Slot> slots_;
    std::pmr::vector<std::string_view> keys_;
};

}  // namespace

TermTokens::TermTokens(std::string_view text, std::pmr::memory_resource* memory) : terms_(memory) {
    // Lowercased copies are appended to one buffer, which may move while it
    // grows, so their views are made once it is complete.
    struct Lowered {
        std::size_t index, offset, size;
    };
    std::pmr::vector<Lowered> lowered(memory);
    // Words of running text average well over four bytes with their
    // separator; one reservation avoids most regrowth.
    terms_.reserve(text.size() / 4 + 1);
    for_each_piece(text, [&](std::string_view piece, bool plain) {
        if (!plain) {
            const std::size_t offset = lowered_.size();
            text::append_lowercase(piece, lowered_);
            if (std::string_view(lowered_).substr(offset) != piece) {
                lowered.push_back({terms_.size(), offset, lowered_.size() - offset});
            } else {
                lowered_.resize(offset);  // already lowercase: keep the view of the text
            }
        }
        terms_.push_back(piece);
    });
    for (const Lowered& term : lowered) terms_[term.index] = std::string_view(lowered_).substr(term.offset, term.size);
}

TermCounts count_terms(std::span<const std::string_view> a, std::span<const std::string_view> b,
                       std::pmr::memory_resource* memory) {
    TermCounts counts(memory);
    TermIds ids(a.size() + b.size(), memory);
    counts.terms.reserve(a.size() + b.size());
    counts.ids_a.reserve(a.size());
    counts.distinct_b.reserve(b.size());
    for (std::string_view term : a) {
        std::size_t id = ids.insert(term);
        if (id == counts.terms.size()) counts.terms.push_back({{0, 0}});
        ++counts.terms[id].count[0];
        counts.ids_a.push_back(id);
    }
    counts.distinct_a = counts.terms.size();
    for (std::string_view term : b) {
        std::size_t id = ids.insert(term);
        if (id == counts.terms.size()) counts.terms.push_back({{0, 0}});
        if (counts.terms[id].count[1]++ == 0) counts.distinct_b.push_back(id);
    }
    return counts;
}

}  // namespace vorn::algo
