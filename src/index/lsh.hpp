// MinHash locality-sensitive hashing: the choice of bands and rows, and
// the band keys that put two signatures in the same bucket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "error/vorn_error.hpp"

namespace vorn::index {

struct BandShape {
    std::uint64_t bands;
    std::uint64_t rows;
};

// Largest num_hashes choose_band_shape searches (its cost grows as
// num_hashes log num_hashes).
inline constexpr std::uint64_t kMaxShapeHashes = 1 << 16;

// Two signatures of Jaccard similarity s share at least one of b bands of
// r rows with probability P(s) = 1 - (1 - s^r)^b. The weighted error of a
// shape is
//   fp_weight * integral over [0, t] of P(s) ds
//   + fn_weight * integral over [t, 1] of (1 - P(s)) ds,
// both by the composite Simpson rule on 512 intervals.
// The shape with b * r <= num_hashes of least weighted error; ties keep the
// first in the order b = 1, 2, ... and, for each b, r = 1, 2, ...
// Rejects a threshold outside [0, 1], num_hashes of 0 and weights that are
// negative, not finite or both zero.
Expected<BandShape, InvalidArgument> choose_band_shape(double threshold, std::uint64_t num_hashes, double fp_weight,
                                                       double fn_weight);

// Checks that bands and rows fit a signature of num_hashes values.
Expected<BandShape, InvalidArgument> check_band_shape(std::uint64_t bands, std::uint64_t rows,
                                                      std::uint64_t num_hashes);

// Key of band `band`: a 64-bit hash of its `rows` signature values (the
// values at band * rows .. band * rows + rows - 1). Equal values give equal
// keys; different values collide with probability about 2^-64.
std::uint64_t band_key(std::span<const std::uint64_t> band_values, std::uint64_t band) noexcept;

// keys[i * bands + k] = band_key of band k of signature i, for the n
// signatures stored row by row, num_hashes values each.
void band_keys(std::span<const std::uint64_t> signatures, std::size_t num_hashes, BandShape shape,
               std::span<std::uint64_t> keys) noexcept;

}  // namespace vorn::index
