// Full default lowercase mapping (root locale, no language tailoring),
// including the context-sensitive Final_Sigma rule, evaluated within the
// given text. Shared by preprocessing and the TF-IDF/BM25 tokeniser.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "error/vorn_error.hpp"
#include "text/icu_chunks.hpp"

namespace vorn::text {

// Appends the lowercase form of `text` to `out` and gives the number of
// bytes appended. Long texts reach ICU in chunks (icu_chunks.hpp); on
// failure `out` holds a partial result.
[[nodiscard]] Expected<std::size_t, UnicodeFailure> append_lowercase(std::string_view text, std::string& out,
                                                                     ChunkLimits limits = kIcuChunks);

// True when lowercasing cannot change the byte: ASCII other than A-Z.
inline bool is_lowercase_ascii_byte(unsigned char byte) noexcept {
    return byte < 0x80 && !(byte >= 'A' && byte <= 'Z');
}

// True when lowercasing cannot change the text: it is ASCII without A-Z.
bool is_lowercase_ascii(std::string_view text) noexcept;

// True when lowercasing text[0, pos) and text[pos, size) apart gives the
// lowercase form of the whole. Final_Sigma is the one context rule: a
// capital sigma's form depends on the nearest characters around it that
// are not case-ignorable. A cut between two characters that are not
// case-ignorable keeps that context unless one of them is the sigma and
// the other is cased.
bool is_safe_lowercase_cut(std::string_view text, std::size_t pos) noexcept;

}  // namespace vorn::text
