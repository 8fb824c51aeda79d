// MinHash signatures over the set of distinct character shingles, and the
// fraction of equal positions of two signatures.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "error/vorn_error.hpp"

namespace vorn::algo {

// Element i is the least (a_i * h + b_i mod 2^64) mod (2^61 - 1) over the
// FNV-1a hashes h of the distinct shingles of size k. kZeroWindow when k
// is 0 (checked before anything is allocated); throws std::length_error
// when the signature's byte size does not fit in memory at all and
// std::bad_alloc when it cannot be allocated.
Expected<std::vector<std::uint64_t>, InvalidArgument> minhash_signature(std::string_view text,
                                                                       std::uint64_t shingle_size,
                                                                       std::uint64_t num_hashes);

// Equal positions among the first min(len a, len b) divided by that count;
// NaN when it is 0.
double minhash_signature_similarity(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept;

// Signature of a, then of b, then their similarity.
Expected<double, InvalidArgument> minhash_similarity(std::string_view a, std::string_view b,
                                                     std::uint64_t shingle_size, std::uint64_t num_hashes);

}  // namespace vorn::algo
