// UTF-8 helpers shared by every algorithm: counting, decoding and boundaries.
//
// Python hands the library valid UTF-8, but the core is also fuzzed with
// arbitrary bytes, so every function here stays in bounds on any input.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorn::utf8 {

inline constexpr bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Number of scalar values: the bytes that are not continuation bytes.
inline std::size_t count_chars(std::string_view text) noexcept {
    std::size_t count = 0;
    for (unsigned char byte : text) count += !is_continuation(byte);
    return count;
}

// Number of scalar values beyond ASCII: the lead bytes of multi-byte
// sequences.
inline std::size_t count_non_ascii(std::string_view text) noexcept {
    std::size_t count = 0;
    for (unsigned char byte : text) count += byte >= 0xC0;
    return count;
}

// True when every byte is below 0x80. Word-at-a-time for long texts.
inline bool is_ascii(std::string_view text) noexcept {
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t acc = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        acc |= word;
    }
    for (; n > 0; ++p, --n) acc |= static_cast<unsigned char>(*p);
    return (acc & 0x8080808080808080ULL) == 0;
}

// First position at or after `pos` whose byte is 0x80 or more, or
// text.size(). Word-at-a-time.
inline std::size_t find_high_byte(std::string_view text, std::size_t pos) noexcept {
    const std::size_t size = text.size();
    for (; pos + 8 <= size; pos += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + pos, 8);
        if (const std::uint64_t high = word & 0x8080808080808080ULL; high != 0) {
            const unsigned byte = std::endian::native == std::endian::little
                                      ? static_cast<unsigned>(std::countr_zero(high)) / 8
                                      : static_cast<unsigned>(std::countl_zero(high)) / 8;
            return pos + byte;
        }
    }
    while (pos < size && static_cast<unsigned char>(text[pos]) < 0x80) ++pos;
    return pos;
}

// Length in bytes of the sequence that starts with this lead byte (1 for
// stray continuation bytes, so that decoding always advances).
inline constexpr std::size_t sequence_length(unsigned char lead) noexcept {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// Start of the character after the one that starts at pos: the next byte
// that is not a continuation byte. Characters are delimited exactly as
// count_chars counts them, on any bytes.
inline std::size_t next_char(std::string_view text, std::size_t pos) noexcept {
    ++pos;
    while (pos < text.size() && is_continuation(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

// Decodes the scalar value starting at text[pos] and advances pos to the
// next character (next_char). Malformed sequences decode from the bytes
// that are there.
inline char32_t decode(std::string_view text, std::size_t& pos) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const unsigned char lead = s[pos++];
    if (lead < 0x80) return lead;
    char32_t cp = lead < 0xC0 ? lead : lead < 0xE0 ? (lead & 0x1F) : lead < 0xF0 ? (lead & 0x0F) : (lead & 0x07);
    // Reads the continuation bytes there are, the sequence's own and any
    // stray ones after it.
    while (pos < size && is_continuation(s[pos])) cp = (cp << 6) | (s[pos++] & 0x3F);
    return cp;
}

// Largest character boundary at or below `limit` (limit <= text.size()).
inline std::size_t floor_boundary(std::string_view text, std::size_t limit) noexcept {
    while (limit > 0 && limit < text.size() && is_continuation(static_cast<unsigned char>(text[limit]))) --limit;
    return limit;
}

// Smallest character boundary at or above `pos` (pos <= text.size()).
inline std::size_t ceil_boundary(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && is_continuation(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

// Appends the UTF-8 encoding of cp to out; returns the number of bytes.
template <class String>
inline std::size_t append(String& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
        return 1;
    }
    if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        return 2;
    }
    if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        return 3;
    }
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    return 4;
}

}  // namespace vorn::utf8
