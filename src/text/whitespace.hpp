// The one definition of whitespace used for splitting, collapsing and
// trimming: the Unicode White_Space property, exactly 25 code points.
// U+001C..U+001F and U+200B are deliberately not whitespace.
#pragma once

#include <cstddef>
#include <string_view>

#include "text/utf8.hpp"

namespace vorn::text {

inline constexpr char32_t kWhiteSpace[25] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

inline constexpr bool is_ascii_whitespace(unsigned char byte) noexcept {
    return byte == 0x20 || (byte >= 0x09 && byte <= 0x0D);
}

inline constexpr bool is_whitespace(char32_t cp) noexcept {
    if (cp < 0x80) return is_ascii_whitespace(static_cast<unsigned char>(cp));
    switch (cp) {
        case 0x0085:
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000: return true;
        default: return cp >= 0x2000 && cp <= 0x200A;
    }
}

// Whitespace as Python's str.isspace() sees it: White_Space and the
// information separators U+001C..U+001F.
inline constexpr bool is_python_whitespace(char32_t cp) noexcept {
    return is_whitespace(cp) || (cp >= 0x1C && cp <= 0x1F);
}

// Byte length of the whitespace character at text[pos], or 0 if the
// character there is not whitespace.
inline std::size_t whitespace_length_at(std::string_view text, std::size_t pos) noexcept {
    auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) return is_ascii_whitespace(byte) ? 1 : 0;
    // Non-ASCII whitespace starts with 0xC2 (U+0085, U+00A0), 0xE1 (U+1680),
    // 0xE2 (U+2000..U+205F) or 0xE3 (U+3000); skip decoding for anything else.
    if (byte != 0xC2 && (byte < 0xE1 || byte > 0xE3)) return 0;
    std::size_t next = pos;
    char32_t cp = utf8::decode(text, next);
    return is_whitespace(cp) ? next - pos : 0;
}

// Calls emit(word) for each maximal run of non-whitespace characters, in order.
template <class Emit>
inline void for_each_word(std::string_view text, Emit&& emit) {
    std::size_t pos = 0, start = 0;
    bool in_word = false;
    while (pos < text.size()) {
        std::size_t ws = whitespace_length_at(text, pos);
        if (ws != 0) {
            if (in_word) emit(text.substr(start, pos - start));
            in_word = false;
            pos += ws;
        } else {
            if (!in_word) start = pos;
            in_word = true;
            pos += utf8::sequence_length(static_cast<unsigned char>(text[pos]));
            if (pos > text.size()) pos = text.size();
        }
    }
    if (in_word) emit(text.substr(start));
}

}  // namespace vorn::text
