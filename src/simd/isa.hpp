// The one choice of instruction set for every kernel family chosen at run
// time (MinHash permutations, UTF-8 validation, tile kernels). The levels
// are ordered, each with the processor features its kernels may assume:
//   portable  the compiler's baseline only (SSE2 on x86-64, which the
//             character masks use at compile time, with no choice to make)
//   avx2      AVX, AVX2 and POPCNT
//   avx512    those of avx2, and AVX-512 F, BW and DQ
// The processor is probed once; the active level is then fixed for the
// process. The environment variable VORN_ISA=portable|avx2|avx512, read on
// first use, lowers it, so that tests and benchmarks can run every level a
// processor has: a level above what the processor runs gives the best one
// it runs (never a crash), and any other value is ignored with one line on
// standard error.
#pragma once

#include <span>
#include <string_view>

namespace vorn::simd {

enum class Level { portable, avx2, avx512 };

// Every level, lowest first.
inline constexpr Level kLevels[] = {Level::portable, Level::avx2, Level::avx512};

// "portable", "avx2" or "avx512".
std::string_view level_name(Level level) noexcept;

// The level `name` names; false (and `out` untouched) for any other text.
bool parse_level(std::string_view name, Level& out) noexcept;

// Whether this processor (and this build) runs kernels of the level.
bool level_supported(Level level) noexcept;

// The levels the processor runs, lowest first (a prefix of kLevels).
std::span<const Level> supported_levels() noexcept;

// The widest level the processor runs.
Level best_level() noexcept;

// `level`, or the best level the processor runs when that is lower.
Level clamp_to_processor(Level level) noexcept;

// The level every kernel family uses: the best one, or the one VORN_ISA asks
// for (clamped). Decided on first call.
Level active_level() noexcept;

}  // namespace vorn::simd
