// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short. A portable kernel and AVX2
// and AVX-512 ones chosen at run time; every kernel gives the same answer.
#pragma once

#include <string_view>

namespace vorn::utf8 {

enum class ValidationKernel { portable, avx2, avx512 };

// Whether this processor (and this build) can run the kernel.
bool validation_kernel_supported(ValidationKernel kernel) noexcept;

// The fastest supported kernel.
ValidationKernel best_validation_kernel() noexcept;

// With the given kernel, which must be supported.
bool is_valid_utf8(ValidationKernel kernel, std::string_view bytes) noexcept;

// With the fastest kernel.
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace vorn::utf8
