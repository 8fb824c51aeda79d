#include "algo/term_tokens.hpp"

#include <array>
#include <cstring>
#include <functional>
#include <string>

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

// Calls emit(piece, classes) for every maximal run of non-separators, in
// order; classes is the union of the classes of its bytes. A non-ASCII byte
// is a separator only where whitespace starts (never a continuation byte).
template <class Emit>
void for_each_piece(std::string_view text, Emit&& emit) {
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    // Length of the separator at pos, 0 if none, given the byte's class.
    const auto separator_at = [&](std::size_t pos, std::uint8_t cls) -> std::size_t {
        if (cls & kSeparator) return 1;
        return (cls & kNonAscii) ? text::whitespace_length_at(text, pos) : 0;
    };
    std::size_t pos = 0;
    while (pos < size) {
        std::uint8_t cls = kByteClass[bytes[pos]];
        if (const std::size_t separator = separator_at(pos, cls)) {
            pos += separator;
            continue;
        }
        const std::size_t start = pos;
        std::uint8_t classes = 0;
        for (;;) {
            classes |= cls;
            if (++pos == size) break;
            cls = kByteClass[bytes[pos]];
            if ((cls & (kSeparator | kNonAscii)) && separator_at(pos, cls) != 0) break;
        }
        emit(text.substr(start, pos - start), classes);
    }
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
    text::append_lowercase(piece, buffer);
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
