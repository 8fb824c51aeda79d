// Unicode Normalization Form C through ICU, for texts of any length.
#pragma once

#include <string>
#include <string_view>

#include "error/vorn_error.hpp"
#include "text/icu_chunks.hpp"

namespace vorn::text {

// When `text` is not in NFC already, writes its NFC form to `out` and gives
// true; gives false, leaving `out` alone, when it is. Long texts reach ICU
// in chunks cut before characters that have a normalization boundary
// before them, where NFC of the whole is NFC of the pieces.
[[nodiscard]] Expected<bool, UnicodeFailure> normalize_nfc(std::string_view text, std::string& out,
                                                           ChunkLimits limits = kIcuChunks);

}  // namespace vorn::text
