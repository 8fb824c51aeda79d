#include "text/lowercase.hpp"

#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>

#include "text/utf8.hpp"

namespace vorn::text {
namespace {

constexpr char32_t kCapitalSigma = 0x03A3;

void append_ascii_lowercase(std::string_view text, std::string& out) {
    const std::size_t start = out.size();
    out.append(text);
    for (std::size_t i = start; i < out.size(); ++i) {
        char c = out[i];
        if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + ('a' - 'A'));
    }
}

// One chunk through ICU, UTF-8 to UTF-8; "" selects the root locale.
Expected<std::size_t, UnicodeFailure> append_chunk(std::string_view chunk, std::string& out) {
    const std::size_t before = out.size();
    AppendSink sink(out);
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(chunk.data(), static_cast<int32_t>(chunk.size())), sink, nullptr,
                              status);
    if (sink.out_of_memory()) status = U_MEMORY_ALLOCATION_ERROR;
    if (U_FAILURE(status)) return icu_failure(UnicodeStep::Lowercasing, status);
    return out.size() - before;
}

}  // namespace

bool is_lowercase_ascii(std::string_view text) noexcept {
    for (unsigned char byte : text) {
        if (!is_lowercase_ascii_byte(byte)) return false;
    }
    return true;
}

bool is_safe_lowercase_cut(std::string_view text, std::size_t pos) noexcept {
    std::size_t before_start = utf8::floor_boundary(text, pos - 1);
    const char32_t before = utf8::decode(text, before_start);
    std::size_t at = pos;
    const char32_t after = utf8::decode(text, at);
    if (u_hasBinaryProperty(static_cast<UChar32>(before), UCHAR_CASE_IGNORABLE) ||
        u_hasBinaryProperty(static_cast<UChar32>(after), UCHAR_CASE_IGNORABLE))
        return false;
    if (before == kCapitalSigma) return !u_hasBinaryProperty(static_cast<UChar32>(after), UCHAR_CASED);
    if (after == kCapitalSigma) return !u_hasBinaryProperty(static_cast<UChar32>(before), UCHAR_CASED);
    return true;
}

Expected<std::size_t, UnicodeFailure> append_lowercase(std::string_view text, std::string& out, ChunkLimits limits) {
    if (utf8::is_ascii(text)) {
        append_ascii_lowercase(text, out);
        return text.size();
    }
    const std::size_t before = out.size();
    out.reserve(before + text.size());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end =
            chunk_end(text, start, limits, [&](std::size_t pos) { return is_safe_lowercase_cut(text, pos); });
        if (end == std::string_view::npos) return UnicodeFailure{UnicodeStep::Lowercasing, false, kNoSafeCut};
        auto appended = append_chunk(text.substr(start, end - start), out);
        if (!appended) return std::move(appended).error();
        start = end;
    }
    return out.size() - before;
}

}  // namespace vorn::text
