// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short. A portable kernel and AVX2
// and AVX-512 ones, one per instruction-set level (simd/isa.hpp); every
// kernel gives the same answer.
#pragma once

#include <string_view>

#include "simd/isa.hpp"

namespace vorn::utf8 {

// With the kernel of `level` (one above the processor's is clamped to it).
bool is_valid_utf8(simd::Level level, std::string_view bytes) noexcept;

// With the kernel of the active level.
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace vorn::utf8
