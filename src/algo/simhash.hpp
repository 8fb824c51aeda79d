// SimHash fingerprints: a per-bit majority vote of the FNV-1a hashes of
// every character shingle occurrence.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::algo {

// Bit i is set when more shingle occurrences have bit i set in their hash
// than have it clear; a tie gives 0. kZeroWindow when shingle_size is 0.
Expected<std::uint64_t, InvalidArgument> simhash_fingerprint(std::string_view text, std::uint64_t shingle_size);

// 1.0 + d * -0.015625 with d the number of differing bits (1 - d / 64).
double simhash_fingerprint_similarity(std::uint64_t a, std::uint64_t b) noexcept;

// Fingerprint of a, then of b, then their similarity.
Expected<double, InvalidArgument> simhash_similarity(std::string_view a, std::string_view b,
                                                     std::uint64_t shingle_size);

}  // namespace vorn::algo
