// The MinHash permutation loop: for every shingle hash h and permutation i,
// sig[i] = min(sig[i], ((a_i * h + b_i) mod 2^64) mod (2^61 - 1)), in a
// portable form and in AVX2 and AVX-512 forms, one per instruction-set
// level (simd/isa.hpp). Every kernel gives the same signature bit for bit.
#pragma once

#include <cstdint>
#include <span>

#include "simd/isa.hpp"
#include "support/hash.hpp"

namespace vorn::algo::minhash {

// Parameters of permutation i.
inline constexpr std::uint64_t permutation_b(std::uint64_t i) noexcept {
    return (i + 1) * support::kGoldenRatio64 + 0x1234;
}
inline constexpr std::uint64_t permutation_a(std::uint64_t i) noexcept { return (permutation_b(i) + 0x9999) | 1; }

// Lowers sig[i], for i below sig.size(), by permutation i of every hash,
// with the kernel of `level` (one above the processor's is clamped to it).
void lower(simd::Level level, std::span<const std::uint64_t> hashes, std::span<std::uint64_t> sig) noexcept;

// Replaces every window of `width` bytes (1 to 8, packed as for
// support::fnv1a_packed) by its FNV-1a hash, at `level` (clamped as above);
// AVX2 has no 64-bit multiply and hashes as the portable kernel does.
void hash_windows(simd::Level level, std::span<std::uint64_t> windows, unsigned width) noexcept;

}  // namespace vorn::algo::minhash
