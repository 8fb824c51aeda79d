// Jaro-Winkler similarity with a bit-parallel matching pass.
//
// The matching rule is the classic greedy one: each character of a takes
// the earliest still unmatched equal character of b inside its window.
// With one bit per position of b, "equal, unmatched and inside the window"
// is an AND of three masks and "earliest" is the lowest set bit, so every
// character of a costs O(1) when b has at most 64 characters and
// O(window / 64) beyond. Whether the k-th matched characters of a and b
// differ is read from the masks too, so b's characters are never stored.
#include "algo/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

constexpr std::size_t kMaxPrefix = 4;
constexpr double kPrefixScale = 0.1;

// Bits 0 .. k - 1 set, for k in 0 ..= 64.
inline std::uint64_t low_bits(std::size_t k) noexcept {
    return k >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
}

inline std::uint64_t lowest_bit(std::uint64_t x) noexcept { return x & (~x + 1); }

using Matching = JaroMatching;

// Half the longer length minus one, and 0 for lengths up to 3.
inline std::size_t match_window(std::size_t na, std::size_t nb) noexcept {
    const std::size_t half = std::max(na, nb) / 2;
    return half == 0 ? 0 : half - 1;
}

// b has at most 64 characters, so at most 64 characters match.
template <class Masks, class CodePointRange>
Matching match_word(const Masks& masks, std::size_t nb, const CodePointRange& a, std::size_t na) noexcept {
    const std::size_t window = match_window(na, nb);
    const std::size_t end = std::min(na, nb + window);  // later windows are empty
    std::uint64_t flags_b = 0;
    std::uint64_t matched[kWordBits + 1];  // the masks of a's matched characters, in order
    std::size_t count = 0;
    std::size_t i = 0;
    for (char32_t c : a) {
        if (i == end) break;
        const std::size_t lo = i > window ? i - window : 0;
        const std::size_t hi = std::min(nb, i + window + 1);
        const std::uint64_t mask = masks.get(c);
        const std::uint64_t candidates = mask & ~flags_b & low_bits(hi) & ~low_bits(lo);
        flags_b |= lowest_bit(candidates);
        matched[count] = mask;
        count += candidates != 0;
        ++i;
    }
    // The k-th matched character of a pairs with the k-th matched one of b.
    std::size_t mismatched = 0;
    for (std::size_t k = 0; k < count; ++k, flags_b &= flags_b - 1)
        mismatched += ((matched[k] >> std::countr_zero(flags_b)) & 1) == 0;
    return {count, mismatched / 2};
}

// b has more than 64 characters.
template <class CodePointRange>
Matching match_blocks(const BlockMasks& masks, std::size_t nb, const CodePointRange& a, std::size_t na) {
    const std::size_t window = match_window(na, nb);
    const std::size_t end = std::min(na, nb + window);
    std::vector<std::uint64_t> flags_b(masks.words(), 0);
    std::vector<BlockMasks::Row> matched;  // the rows of a's matched characters, in order
    matched.reserve(std::min(end, nb));
    // Each character of a takes the first free occurrence at or after the
    // window's start, and the start only moves right, so the taken
    // occurrences of a character always form a run from the start. Every
    // character therefore keeps the block where its search last succeeded
    // and resumes there: no block is scanned twice for the same character.
    std::vector<std::size_t> resume(masks.row_count(), 0);
    std::size_t i = 0;
    for (char32_t c : a) {
        if (i == end) break;
        const BlockMasks::Row row = masks.find(c);
        const std::size_t lo = i > window ? i - window : 0;
        const std::size_t hi = std::min(nb, i + window + 1);
        ++i;
        if (row.id == BlockMasks::kAbsentId) continue;
        const std::size_t first = lo / kWordBits, last = (hi - 1) / kWordBits;
        const auto take = [&](std::size_t w, std::uint64_t bits) {
            std::uint64_t candidates = bits & ~flags_b[w];
            if (w == first) candidates &= ~low_bits(lo % kWordBits);
            if (w == last) candidates &= low_bits(hi - w * kWordBits);
            if (candidates == 0) return false;
            flags_b[w] |= lowest_bit(candidates);
            matched.push_back(row);
            resume[row.id] = w;
            return true;
        };
        const std::size_t start = std::max(first, resume[row.id]);
        if (row.dense) {
            for (std::size_t w = start; w <= last; ++w)
                if (take(w, row.dense[w])) break;
        } else {
            for (auto* p = BlockMasks::first_at_or_after(row, start); p != row.sparse_end && p->block <= last; ++p)
                if (take(p->block, p->bits)) break;
        }
    }
    std::size_t mismatched = 0, wb = 0;
    std::uint64_t bits_b = flags_b[0];
    for (const BlockMasks::Row& row : matched) {
        while (bits_b == 0) bits_b = flags_b[++wb];  // as many b flags as matches
        mismatched += !BlockMasks::has(row, wb * kWordBits + std::countr_zero(bits_b));
        bits_b &= bits_b - 1;
    }
    return {matched.size(), mismatched / 2};
}

}  // namespace

CachedJaroWinkler::CachedJaroWinkler(std::string_view pattern)
    : CachedJaroWinkler(pattern, utf8::is_ascii(pattern), nullptr, false) {}

CachedJaroWinkler::CachedJaroWinkler(std::string_view pattern, bool ascii, const std::string_view* only_with,
                                     bool only_with_ascii)
    : length_(ascii ? pattern.size() : utf8::count_chars(pattern)), prefix_{} {
    const auto build = [&](const auto& code_points) {
        std::size_t k = 0;
        for (auto it = code_points.begin(); k < std::min(kMaxPrefix, length_); ++it) prefix_[k++] = *it;
        if (length_ == 0) return;
        const auto non_ascii = [&] { return ascii ? 0 : utf8::count_non_ascii(pattern); };
        if (length_ > kWordBits) {
            masks_.emplace<BlockMasks>(code_points, length_, non_ascii());
            return;
        }
#if defined(__SSE2__)
        const auto registers = [&](const auto& masks) {
            masks_.emplace<std::decay_t<decltype(masks)>>(masks);
            return true;
        };
        if (only_with && with_register_masks(pattern, code_points, length_, ascii, registers)) return;
#endif
        // Clearing only the table entries that the other text uses relies
        // on its characters being read the same way twice, which holds for
        // ASCII text only: on malformed UTF-8 the walks may differ and leave
        // entries uncleared.
        if (only_with && only_with_ascii) masks_.emplace<WordMasks>(code_points, non_ascii(), *only_with);
        else masks_.emplace<WordMasks>(code_points, non_ascii());
    };
    if (ascii) build(text::AsciiCodePoints(pattern));
    else build(text::CodePoints(pattern));
}

// The pattern is b and `other` is a of the free function.
JaroMatching CachedJaroWinkler::matching_to(std::string_view other, bool other_ascii, std::size_t na) const {
    const std::size_t nb = length_;
    if (na == 0 || nb == 0) return {};
    const auto run = [&](const auto& a) {
        const Matching found = std::visit(
            [&](const auto& masks) -> Matching {
                using Masks = std::decay_t<decltype(masks)>;
                if constexpr (std::is_same_v<Masks, std::monostate>) return {};  // never: nb is not 0
                else if constexpr (std::is_same_v<Masks, BlockMasks>) return match_blocks(masks, nb, a, na);
                else return match_word(masks, nb, a, na);
            },
            masks_);
        return JaroMatching{found.matches, found.transpositions};
    };
    return other_ascii ? run(text::AsciiCodePoints(other)) : run(text::CodePoints(other));
}

double CachedJaroWinkler::similarity_to(std::string_view other, bool other_ascii) const {
    const std::size_t na = other_ascii ? other.size() : utf8::count_chars(other);
    const std::size_t nb = length_;
    if (na == 0 || nb == 0) return na == nb ? 1.0 : 0.0;
    const JaroMatching found = matching_to(other, other_ascii, na);
    // Equal first characters always match, so no match also means no prefix.
    if (found.matches == 0) return 0.0;
    const double m = static_cast<double>(found.matches);
    const double t = static_cast<double>(found.transpositions);
    const double jaro = ((m / static_cast<double>(na) + m / static_cast<double>(nb)) + (m - t) / m) / 3.0;
    const std::size_t limit = std::min({kMaxPrefix, na, nb});
    const auto prefix_of = [&](const auto& a) {
        std::size_t prefix = 0;
        for (auto it = a.begin(); prefix < limit && *it == prefix_[prefix]; ++it) ++prefix;
        return prefix;
    };
    const std::size_t prefix =
        other_ascii ? prefix_of(text::AsciiCodePoints(other)) : prefix_of(text::CodePoints(other));
    return (1.0 - jaro) * (static_cast<double>(prefix) * kPrefixScale) + jaro;
}

double CachedJaroWinkler::similarity(std::string_view other) const {
    return similarity_to(other, utf8::is_ascii(other));
}

double jaro_winkler_similarity(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    const bool a_ascii = utf8::is_ascii(a);
    const CachedJaroWinkler pattern(b, utf8::is_ascii(b), &a, a_ascii);
    return pattern.similarity_to(a, a_ascii);
}

JaroMatching jaro_matching(std::string_view a, std::string_view b) {
    const bool a_ascii = utf8::is_ascii(a);
    const CachedJaroWinkler pattern(b, utf8::is_ascii(b), &a, a_ascii);
    return pattern.matching_to(a, a_ascii, a_ascii ? a.size() : utf8::count_chars(a));
}

}  // namespace vorn::algo
