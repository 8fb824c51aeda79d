#include "text/lowercase.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>

#include <new>

#include "text/utf8.hpp"

namespace vorn::text {

bool is_lowercase_ascii(std::string_view text) noexcept {
    for (unsigned char byte : text) {
        if (!is_lowercase_ascii_byte(byte)) return false;
    }
    return true;
}

void append_lowercase(std::string_view text, std::string& out) {
    if (utf8::is_ascii(text)) {
        const std::size_t start = out.size();
        out.append(text);
        for (std::size_t i = start; i < out.size(); ++i) {
            char c = out[i];
            if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + ('a' - 'A'));
        }
        return;
    }
    // ICU maps UTF-8 to UTF-8 directly; "" selects the root locale.
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink,
                              nullptr, status);
    if (U_FAILURE(status)) throw std::bad_alloc();
}

}  // namespace vorn::text
