#include "text/normalize.hpp"

#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include "text/utf8.hpp"

namespace vorn::text {
namespace {

constexpr UnicodeStep kStep = UnicodeStep::Normalization;

icu::StringPiece piece_of(std::string_view chunk) {
    return icu::StringPiece(chunk.data(), static_cast<int32_t>(chunk.size()));
}

}  // namespace

Expected<bool, UnicodeFailure> normalize_nfc(std::string_view text, std::string& out, ChunkLimits limits) {
    if (utf8::is_ascii(text)) return false;  // ASCII is always in NFC
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return icu_failure(kStep, status);

    auto is_safe_cut = [&](std::size_t pos) {
        std::size_t next = pos;
        return nfc->hasBoundaryBefore(static_cast<UChar32>(utf8::decode(text, next))) != 0;
    };
    // The chunks up to the first one that is not in NFC are kept as they are.
    std::size_t start = 0, end = 0;
    for (; start < text.size(); start = end) {
        end = chunk_end(text, start, limits, is_safe_cut);
        if (end == std::string_view::npos) return UnicodeFailure{kStep, false, kNoSafeCut};
        const bool normalized = nfc->isNormalizedUTF8(piece_of(text.substr(start, end - start)), status);
        if (U_FAILURE(status)) return icu_failure(kStep, status);
        if (!normalized) break;
    }
    if (start == text.size()) return false;

    std::string result;
    result.reserve(text.size() + text.size() / 8);
    result.append(text.substr(0, start));
    AppendSink sink(result);
    for (; start < text.size(); start = end) {
        end = chunk_end(text, start, limits, is_safe_cut);
        if (end == std::string_view::npos) return UnicodeFailure{kStep, false, kNoSafeCut};
        nfc->normalizeUTF8(0, piece_of(text.substr(start, end - start)), sink, nullptr, status);
        if (sink.out_of_memory()) status = U_MEMORY_ALLOCATION_ERROR;
        if (U_FAILURE(status)) return icu_failure(kStep, status);
    }
    out = std::move(result);
    return true;
}

}  // namespace vorn::text
