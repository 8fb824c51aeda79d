// How a kernel of a level is compiled: with exactly the processor features
// the level guarantees (simd/isa.hpp), so no kernel assumes more than the
// choice of level checked. A function takes VORN_TARGET_AVX2 or
// VORN_TARGET_AVX512; a file of kernels of one level brackets them with
// VORN_BEGIN_TARGET_AVX2 (or _AVX512) and VORN_END_TARGET.
#pragma once

#define VORN_AVX2_FEATURES "avx,avx2,popcnt"
#define VORN_AVX512_FEATURES "avx,avx2,popcnt,avx512f,avx512bw,avx512dq"

#define VORN_TARGET_AVX2 __attribute__((target(VORN_AVX2_FEATURES)))
#define VORN_TARGET_AVX512 __attribute__((target(VORN_AVX512_FEATURES)))

#define VORN_PRAGMA_TEXT(text) _Pragma(#text)
#define VORN_PRAGMA(text) VORN_PRAGMA_TEXT(text)
#if defined(__clang__)
#define VORN_BEGIN_TARGET(features) \
    VORN_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define VORN_END_TARGET VORN_PRAGMA(clang attribute pop)
#else
#define VORN_BEGIN_TARGET(features) VORN_PRAGMA(GCC push_options) VORN_PRAGMA(GCC target(features))
#define VORN_END_TARGET VORN_PRAGMA(GCC pop_options)
#endif
#define VORN_BEGIN_TARGET_AVX2 VORN_BEGIN_TARGET(VORN_AVX2_FEATURES)
#define VORN_BEGIN_TARGET_AVX512 VORN_BEGIN_TARGET(VORN_AVX512_FEATURES)
