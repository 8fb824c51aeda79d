// The few helpers of the core's C++ tests: a failure count, the first
// failures printed, and the exit status ctest reads.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace vorn::testing {

inline int failures = 0;

// Counts a failure when `ok` is false; prints the first 20.
__attribute__((format(printf, 2, 3))) inline void check(bool ok, const char* format, ...) {
    if (ok || ++failures > 20) return;
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

inline int exit_status() {
    std::printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}

// The exit status ctest counts as a skipped test (SKIP_RETURN_CODE).
inline constexpr int kSkipped = 77;

}  // namespace vorn::testing
