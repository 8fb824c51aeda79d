// Jaro-Winkler similarity with a bit-parallel matching pass.
//
// The matching rule is the classic greedy one: each character of a takes
// the earliest still unmatched equal character of b inside its window.
// With one bit per position of b, "equal, unmatched and inside the window"
// is an AND of three masks and "earliest" is the lowest set bit, so every
// character of a costs O(1) for texts of up to 64 characters and
// O(window / 64) beyond. Short texts need no heap memory at all.
#include "algo/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "algo/block_masks.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

constexpr std::size_t kWordBits = 64;
constexpr std::size_t kMaxPrefix = 4;
constexpr double kPrefixScale = 0.1;

// Bits 0 .. k - 1 set, for k in 0 ..= 64.
inline std::uint64_t low_bits(std::size_t k) noexcept {
    return k >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
}

inline std::uint64_t lowest_bit(std::uint64_t x) noexcept { return x & (~x + 1); }

struct Matching {
    std::size_t matches = 0;
    std::size_t transpositions = 0;  // mismatched pairs halved, rounded down
};

// Half the longer length minus one, and 0 for lengths up to 3.
inline std::size_t match_window(std::size_t na, std::size_t nb) noexcept {
    const std::size_t half = std::max(na, nb) / 2;
    return half == 0 ? 0 : half - 1;
}

// Positions of each character of a text of at most 64 characters, one bit
// per position. Only entries of characters that occur in one of the two
// texts are written or read, so nothing is cleared wholesale.
template <class Char>
class ShortMasks {
public:
    ShortMasks(const Char* a, std::size_t na, const Char* b, std::size_t nb) noexcept {
        for (std::size_t i = 0; i < na; ++i)
            if (a[i] < 128) ascii_[a[i]] = 0;
        for (std::size_t j = 0; j < nb; ++j)
            if (b[j] < 128) ascii_[b[j]] = 0;
        for (std::size_t j = 0; j < nb; ++j) {
            const std::uint64_t bit = std::uint64_t{1} << j;
            if (b[j] < 128) ascii_[b[j]] |= bit;
            else *extended_slot(b[j]) |= bit;
        }
    }

    std::uint64_t get(Char c) const noexcept {
        if (c < 128) return ascii_[c];
        if constexpr (sizeof(Char) > 1) {
            if (!any_extended_) return 0;
            for (std::uint32_t i = slot_start(c);; i = (i + 1) & 127) {
                if (keys_[i] == c) return values_[i];
                if (keys_[i] == 0) return 0;
            }
        }
        return 0;
    }

private:
    static std::uint32_t slot_start(char32_t c) noexcept {
        return (static_cast<std::uint32_t>(c) * 0x9E3779B1u) >> 25;
    }

    // At most 64 keys in 128 slots; key 0 (ASCII, never stored) marks a free slot.
    std::uint64_t* extended_slot(char32_t c) noexcept {
        if (!any_extended_) {
            std::memset(keys_, 0, sizeof keys_);
            any_extended_ = true;
        }
        for (std::uint32_t i = slot_start(c);; i = (i + 1) & 127) {
            if (keys_[i] == c) return &values_[i];
            if (keys_[i] == 0) {
                keys_[i] = c;
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

// Both texts have at most 64 characters.
template <class Char>
Matching match_short(const Char* a, std::size_t na, const Char* b, std::size_t nb) noexcept {
    const ShortMasks<Char> masks(a, na, b, nb);
    const std::size_t window = match_window(na, nb);
    const std::size_t end = std::min(na, nb + window);  // later windows are empty
    std::uint64_t flags_a = 0, flags_b = 0;
    Matching result;
    for (std::size_t i = 0; i < end; ++i) {
        const std::size_t lo = i > window ? i - window : 0;
        const std::size_t hi = std::min(nb, i + window + 1);
        const std::uint64_t candidates = masks.get(a[i]) & ~flags_b & low_bits(hi) & ~low_bits(lo);
        const bool found = candidates != 0;
        flags_b |= lowest_bit(candidates);
        flags_a |= static_cast<std::uint64_t>(found) << i;
        result.matches += found;
    }
    // The k-th matched character of a pairs with the k-th matched one of b.
    std::size_t mismatched = 0;
    for (; flags_a != 0; flags_a &= flags_a - 1, flags_b &= flags_b - 1)
        mismatched += a[std::countr_zero(flags_a)] != b[std::countr_zero(flags_b)];
    result.transpositions = mismatched / 2;
    return result;
}

// Either text is longer than 64 characters.
template <class Char>
Matching match_blocks(const Char* a, std::size_t na, const Char* b, std::size_t nb) {
    std::size_t next_b = 0;
    const BlockMasks<Char> masks(nb, [&] { return b[next_b++]; });
    const std::size_t window = match_window(na, nb);
    const std::size_t end = std::min(na, nb + window);
    std::vector<std::uint64_t> flags_a((na + kWordBits - 1) / kWordBits, 0);
    std::vector<std::uint64_t> flags_b(masks.words(), 0);
    // Each character of a takes the first free occurrence at or after the
    // window's start, and the start only moves right, so the taken
    // occurrences of a character always form a run from the start. Every
    // character therefore keeps the word where its search last succeeded
    // and resumes there: no word is scanned twice for the same character.
    std::vector<std::size_t> resume(masks.row_count(), 0);
    Matching result;
    for (std::size_t i = 0; i < end; ++i) {
        const auto row = masks.find(a[i]);
        const std::size_t lo = i > window ? i - window : 0;
        const std::size_t hi = std::min(nb, i + window + 1);
        const std::size_t first = lo / kWordBits, last = (hi - 1) / kWordBits;
        for (std::size_t w = std::max(first, resume[row.id]); w <= last; ++w) {
            std::uint64_t candidates = row.bits[w] & ~flags_b[w];
            if (w == first) candidates &= ~low_bits(lo % kWordBits);
            if (w == last) candidates &= low_bits(hi - w * kWordBits);
            if (candidates != 0) {
                flags_b[w] |= lowest_bit(candidates);
                flags_a[i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
                ++result.matches;
                resume[row.id] = w;
                break;
            }
        }
    }
    if (result.matches == 0) return result;
    std::size_t mismatched = 0, wb = 0;
    std::uint64_t bits_b = flags_b[0];
    for (std::size_t wa = 0; wa < flags_a.size(); ++wa) {
        for (std::uint64_t bits_a = flags_a[wa]; bits_a != 0; bits_a &= bits_a - 1) {
            while (bits_b == 0) bits_b = flags_b[++wb];  // as many b flags as a flags
            const std::size_t i = wa * kWordBits + std::countr_zero(bits_a);
            const std::size_t j = wb * kWordBits + std::countr_zero(bits_b);
            mismatched += a[i] != b[j];
            bits_b &= bits_b - 1;
        }
    }
    result.transpositions = mismatched / 2;
    return result;
}

template <class Char>
double similarity(const Char* a, std::size_t na, const Char* b, std::size_t nb) {
    if (na == 0 || nb == 0) return 0.0;
    const Matching found = std::max(na, nb) <= kWordBits ? match_short(a, na, b, nb) : match_blocks(a, na, b, nb);
    // Equal first characters always match, so no match also means no prefix.
    if (found.matches == 0) return 0.0;
    const double m = static_cast<double>(found.matches);
    const double t = static_cast<double>(found.transpositions);
    const double jaro = ((m / static_cast<double>(na) + m / static_cast<double>(nb)) + (m - t) / m) / 3.0;
    const std::size_t limit = std::min({kMaxPrefix, na, nb});
    std::size_t prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
    return (1.0 - jaro) * (static_cast<double>(prefix) * kPrefixScale) + jaro;
}

// The scalar values of a text, on the stack for up to 64 characters.
class Decoded {
public:
    explicit Decoded(std::string_view text) {
        const std::size_t count = utf8::count_chars(text);
        char32_t* out = inline_;
        if (count > kInline) {
            heap_ = std::make_unique_for_overwrite<char32_t[]>(count);
            out = heap_.get();
        }
        // Stops at `count` even on malformed input, whose decoding may yield
        // a different number of values than there are lead bytes.
        std::size_t pos = 0;
        while (pos < text.size() && size_ < count) out[size_++] = utf8::decode(text, pos);
        data_ = out;
    }

    const char32_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    static constexpr std::size_t kInline = kWordBits;
    char32_t inline_[kInline];
    std::unique_ptr<char32_t[]> heap_;
    const char32_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

double jaro_winkler_similarity(std::string_view a, std::string_view b) {
    if (a == b) return 1.0;
    if (utf8::is_ascii(a) && utf8::is_ascii(b)) {
        return similarity(reinterpret_cast<const unsigned char*>(a.data()), a.size(),
                          reinterpret_cast<const unsigned char*>(b.data()), b.size());
    }
    const Decoded da(a), db(b);
    return similarity(da.data(), da.size(), db.data(), db.size());
}

}  // namespace vorn::algo
