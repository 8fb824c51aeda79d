#include "algo/term_tokens.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "support/flat_hash_table.hpp"
#include "text/lowercase.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo {
namespace {

// What a byte is to the tokeniser, as bits: an ASCII separator (the
// whitespace U+0009..U+000D, U+0020 and the 32 punctuation characters
// U+0021..U+002F, U+003A..U+0040, U+005B..U+0060, U+007B..U+007E), an ASCII
// capital, or a byte of a non-ASCII character, which may start whitespace.
enum ByteClass : std::uint8_t { kSeparator = 1, kCapital = 2, kNonAscii = 4 };

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        const bool punctuation = (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
                                 (c >= 0x7B && c <= 0x7E);
        if (c >= 0x80) table[c] = kNonAscii;
        else if (punctuation || text::is_ascii_whitespace(static_cast<unsigned char>(c))) table[c] = kSeparator;
        else if (c >= 'A' && c <= 'Z') table[c] = kCapital;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kByteClass = make_byte_classes();

// Bit i of `separator` is set when byte i of a block of up to 64 bytes is
// an ASCII separator, of `capital` when it is A-Z, of `non_ascii` when it
// is not ASCII.
struct BlockMasks {
    std::uint64_t separator = 0, capital = 0, non_ascii = 0;
};

BlockMasks scalar_block_masks(const unsigned char* p, std::size_t n) noexcept {
    BlockMasks masks;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cls = kByteClass[p[i]];
        masks.separator |= static_cast<std::uint64_t>(cls & kSeparator) << i;
        masks.capital |= static_cast<std::uint64_t>((cls & kCapital) != 0) << i;
        masks.non_ascii |= static_cast<std::uint64_t>((cls & kNonAscii) != 0) << i;
    }
    return masks;
}

#if defined(__SSE2__)
// The same for 64 bytes, sixteen at a time. Signed compares: non-ASCII
// bytes are negative and fall in no range. Letters of either case fold
// onto a-z with bit 5 set.
BlockMasks vector_block_masks(const unsigned char* p) noexcept {
    const auto in_range = [](__m128i v, char low, char high) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
    };
    BlockMasks masks;
    for (unsigned chunk = 0; chunk < 4; ++chunk) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * chunk));
        const __m128i alphanumeric =
            _mm_or_si128(in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z'), in_range(v, '0', '9'));
        const __m128i separator =
            _mm_or_si128(_mm_andnot_si128(alphanumeric, in_range(v, 0x20, 0x7E)), in_range(v, 0x09, 0x0D));
        const unsigned shift = 16 * chunk;
        masks.separator |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(separator))) << shift;
        masks.capital |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(in_range(v, 'A', 'Z'))))
                         << shift;
        masks.non_ascii |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v))) << shift;
    }
    return masks;
}
#endif

// Calls emit(piece, classes) for every maximal run of non-separators, in
// order; classes is the union of the classes of its bytes. A non-ASCII byte
// is a separator only where whitespace starts (never a continuation byte).
// The text is classified 64 bytes at a time into bit masks, and the pieces
// are read off the masks.
template <class Emit>
void for_each_piece(std::string_view text, Emit&& emit) {
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t open = size;  // start of a piece that runs into the next block; size: none
    std::uint8_t open_classes = 0;
    std::size_t spill = 0;  // bytes of whitespace that run into the next block
    for (std::size_t block = 0; block < size; block += 64) {
        const std::size_t n = std::min<std::size_t>(64, size - block);
#if defined(__SSE2__)
        BlockMasks masks = n == 64 ? vector_block_masks(bytes + block) : scalar_block_masks(bytes + block, n);
#else
        BlockMasks masks = scalar_block_masks(bytes + block, n);
#endif
        const std::uint64_t in_block = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
        std::uint64_t separator = masks.separator;
        // Whitespace left over from the previous block, then non-ASCII
        // whitespace starting here.
        const std::size_t carried = std::min(spill, n);
        if (carried != 0) separator |= carried == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << carried) - 1;
        spill -= carried;
        for (std::uint64_t pending = masks.non_ascii & ~separator; pending != 0; pending &= pending - 1) {
            const unsigned i = static_cast<unsigned>(std::countr_zero(pending));
            if (separator >> i & 1) continue;
            const std::size_t length = text::whitespace_length_at(text, block + i);
            if (length == 0) continue;
            const std::size_t here = std::min<std::size_t>(length, 64 - i);
            separator |= (here == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << here) - 1) << i;
            spill = length - here;
        }
        separator &= in_block;
        // Runs of word bytes; a piece left open by the previous block ends
        // here unless this block starts with a word byte.
        std::uint64_t word = ~separator & in_block;
        if (open != size && (word & 1) == 0) {
            emit(text.substr(open, block - open), open_classes);
            open = size;
        }
        while (word != 0) {
            const unsigned first = static_cast<unsigned>(std::countr_zero(word));
            const std::uint64_t from_first = ~(word >> first);  // ones past the run
            const unsigned length = from_first == 0 ? 64 - first : static_cast<unsigned>(std::countr_zero(from_first));
            const std::uint64_t run = (length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1) << first;
            std::uint8_t classes = static_cast<std::uint8_t>(((masks.capital & run) ? kCapital : 0) |
                                                             ((masks.non_ascii & run) ? kNonAscii : 0));
            std::size_t start = block + first;
            if (first == 0 && open != size) {  // continues the piece of the previous block
                start = open;
                classes |= open_classes;
            }
            open = size;
            if (first + length == 64 && block + 64 < size) {  // may continue in the next block
                open = start;
                open_classes = classes;
            } else {
                emit(text.substr(start, block + first + length - start), classes);
            }
            word &= ~run;
        }
    }
    if (open != size) emit(text.substr(open), open_classes);
}

// The term of a piece: the piece itself when lowercasing leaves it as it is,
// else a lowercased copy allocated from `memory`.
std::string_view lowercase_term(std::string_view piece, std::uint8_t classes, std::pmr::memory_resource* memory,
                                std::string& buffer) {
    if (!(classes & (kCapital | kNonAscii))) return piece;
    if (!(classes & kNonAscii)) {
        auto* copy = static_cast<char*>(memory->allocate(piece.size(), 1));
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const char c = piece[i];
            copy[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        }
        return {copy, piece.size()};
    }
    buffer.clear();
    // A word fails only where the process is out of memory, or on a run over
    // 2 GiB with no place to cut it for ICU.
    if (!text::append_lowercase(piece, buffer)) throw std::bad_alloc();
    if (buffer == piece) return piece;
    auto* copy = static_cast<char*>(memory->allocate(buffer.size(), 1));
    std::memcpy(copy, buffer.data(), buffer.size());
    return {copy, buffer.size()};
}

// Term to dense id. Sized from the texts' length for running text (a term
// and its separator take about 6 bytes, a third of them repeats); more
// distinct terms make it grow.
using TermIds = support::FlatHashMap<support::HashedBytes, std::size_t, support::HashedBytesHash, std::equal_to<>, 0,
                                     std::pmr::polymorphic_allocator<std::byte>>;

}  // namespace

TermCounts count_terms(std::string_view a, std::string_view b, std::pmr::memory_resource* memory) {
    TermCounts counts(memory);
    const std::size_t expected = (a.size() + b.size()) / 9 + 8;
    TermIds ids(expected, {}, {}, memory);
    counts.terms.reserve(expected);
    counts.ids_a.reserve(a.size() / 4 + 1);
    counts.distinct_b.reserve(expected);
    std::string buffer;
    ids.fill([&](auto&& insert) {
        // Id of the term; a new term gets the next one.
        const auto id_of = [&](std::string_view piece, std::uint8_t classes) {
            auto [id, inserted] = insert(support::HashedBytes(lowercase_term(piece, classes, memory, buffer)));
            if (inserted) {
                *id = counts.terms.size();
                counts.terms.push_back({{0, 0}});
            }
            return *id;
        };
        for_each_piece(a, [&](std::string_view piece, std::uint8_t classes) {
            const std::size_t id = id_of(piece, classes);
            ++counts.terms[id].count[0];
            counts.ids_a.push_back(id);
        });
        counts.distinct_a = counts.terms.size();
        for_each_piece(b, [&](std::string_view piece, std::uint8_t classes) {
            const std::size_t id = id_of(piece, classes);
            if (counts.terms[id].count[1]++ == 0) counts.distinct_b.push_back(id);
            ++counts.tokens[1];
        });
    });
    counts.tokens[0] = counts.ids_a.size();
    return counts;
}

}  // namespace vorn::algo
