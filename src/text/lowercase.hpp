// Full default lowercase mapping (root locale, no language tailoring),
// including the context-sensitive Final_Sigma rule, evaluated within the
// given text. Shared by preprocessing and the TF-IDF/BM25 tokeniser.
#pragma once

#include <string>
#include <string_view>

namespace vorn::text {

// Appends the lowercase form of `text` to `out`.
void append_lowercase(std::string_view text, std::string& out);

inline std::string to_lowercase(std::string_view text) {
    std::string out;
    append_lowercase(text, out);
    return out;
}

// True when lowercasing cannot change the byte: ASCII other than A-Z.
inline bool is_lowercase_ascii_byte(unsigned char byte) noexcept {
    return byte < 0x80 && !(byte >= 'A' && byte <= 'Z');
}

// True when lowercasing cannot change the text: it is ASCII without A-Z.
bool is_lowercase_ascii(std::string_view text) noexcept;

}  // namespace vorn::text
