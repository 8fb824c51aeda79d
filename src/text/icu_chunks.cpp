#include "text/icu_chunks.hpp"

#include <unicode/utypes.h>

#include <new>
#include <stdexcept>

namespace vorn::text {

std::string_view step_name(UnicodeStep step) noexcept {
    switch (step) {
        case UnicodeStep::Normalization: return "Unicode normalization (NFC)";
        case UnicodeStep::Lowercasing: return "lowercasing";
    }
    return {};
}

std::string describe(const UnicodeFailure& failure) {
    std::string message(step_name(failure.step));
    message += " failed: ";
    message += failure.reason;
    return message;
}

void AppendSink::Append(const char* bytes, int32_t n) {
    if (out_of_memory_ || n <= 0) return;
    try {
        out_.append(bytes, static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        out_of_memory_ = true;
    } catch (const std::length_error&) {
        out_of_memory_ = true;
    }
}

UnicodeFailure icu_failure(UnicodeStep step, int status) noexcept {
    const auto code = static_cast<UErrorCode>(status);
    return {step, code == U_MEMORY_ALLOCATION_ERROR, u_errorName(code)};
}

}  // namespace vorn::text
