#include "index/lsh.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/hash.hpp"

namespace vorn::index {
namespace {

using support::kGoldenRatio64;
// Even number of Simpson intervals; the integrands are polynomials of
// modest degree, smooth enough that this is far below any difference that
// decides between two shapes.
constexpr int kSimpsonIntervals = 512;

double simpson_weight(int k) noexcept {
    if (k == 0 || k == kSimpsonIntervals) return 1.0;
    return k % 2 == 1 ? 4.0 : 2.0;
}

}  // namespace

Expected<BandShape, InvalidArgument> choose_band_shape(double threshold, std::uint64_t num_hashes, double fp_weight,
                                                       double fn_weight) {
    if (!(threshold >= 0.0 && threshold <= 1.0)) return InvalidArgument{"threshold must be in [0, 1]"};
    if (num_hashes == 0) return InvalidArgument{"num_hashes must be positive"};
    if (!(std::isfinite(fp_weight) && std::isfinite(fn_weight) && fp_weight >= 0.0 && fn_weight >= 0.0) ||
        fp_weight + fn_weight == 0.0)
        return InvalidArgument{"weights must be finite, non-negative and not both zero"};
    if (num_hashes > kMaxShapeHashes) return InvalidArgument{"num_hashes is too large to choose bands for"};
    const std::size_t m = static_cast<std::size_t>(num_hashes);
    // P(s) = 1 - (1 - s^r)^b on the Simpson grids of [0, t] and [t, 1]:
    // for each r, (1 - s^r)^b is built up one b at a time, so a shape costs
    // one multiplication per grid point.
    const double fp_step = threshold / kSimpsonIntervals, fn_step = (1.0 - threshold) / kSimpsonIntervals;
    constexpr int kPoints = kSimpsonIntervals + 1;
    std::vector<double> fp_power(kPoints, 1.0), fn_power(kPoints, 1.0), fp_miss(kPoints), fn_miss(kPoints);
    std::vector<std::vector<double>> error(m + 1);  // error[r][b - 1]
    for (std::size_t rows = 1; rows <= m; ++rows) {
        for (int k = 0; k < kPoints; ++k) {
            fp_power[k] *= k * fp_step;  // s^rows
            fn_power[k] *= threshold + k * fn_step;
            fp_miss[k] = fn_miss[k] = 1.0;  // (1 - s^rows)^bands
        }
        for (std::size_t bands = 1; bands <= m / rows; ++bands) {
            double false_positive = 0.0, false_negative = 0.0;
            for (int k = 0; k < kPoints; ++k) {
                fp_miss[k] *= 1.0 - fp_power[k];
                fn_miss[k] *= 1.0 - fn_power[k];
                false_positive += simpson_weight(k) * (1.0 - fp_miss[k]);
                false_negative += simpson_weight(k) * fn_miss[k];
            }
            error[rows].push_back(fp_weight * (false_positive * fp_step / 3.0) +
                                  fn_weight * (false_negative * fn_step / 3.0));
        }
    }
    BandShape best{1, 1};
    double best_error = INFINITY;
    for (std::size_t bands = 1; bands <= m; ++bands) {
        for (std::size_t rows = 1; rows <= m / bands; ++rows) {
            if (error[rows][bands - 1] < best_error) {
                best_error = error[rows][bands - 1];
                best = {bands, rows};
            }
        }
    }
    return best;
}

Expected<BandShape, InvalidArgument> check_band_shape(std::uint64_t bands, std::uint64_t rows,
                                                      std::uint64_t num_hashes) {
    if (bands == 0 || rows == 0) return InvalidArgument{"bands and rows must be positive"};
    if (bands > num_hashes / rows) return InvalidArgument{"bands * rows must not exceed num_hashes"};
    return BandShape{bands, rows};
}

namespace {

// A band key starts from its band's seed and takes one step per value;
// each step is a bijection of h, so the key depends on every value.
std::uint64_t band_seed(std::uint64_t band) noexcept { return support::detail::mix((band + 1) * kGoldenRatio64); }
std::uint64_t band_step(std::uint64_t h, std::uint64_t value) noexcept {
    return support::detail::mix(h ^ value) + kGoldenRatio64;
}

}  // namespace

std::uint64_t band_key(std::span<const std::uint64_t> band_values, std::uint64_t band) noexcept {
    std::uint64_t h = band_seed(band);
    for (std::uint64_t value : band_values) h = band_step(h, value);
    return h;
}

void band_keys(std::span<const std::uint64_t> signatures, std::size_t num_hashes, BandShape shape,
               std::span<std::uint64_t> keys) noexcept {
    const std::size_t n = num_hashes == 0 ? 0 : signatures.size() / num_hashes;
    const std::size_t bands = shape.bands, rows = shape.rows, count = n * bands;
    // The band_key of key c (band c % bands of signature c / bands) for
    // kLanes keys in lockstep: their chains of multiplications are
    // independent, so they overlap in the pipeline.
    constexpr std::size_t kLanes = 8;
    auto values_of = [&](std::size_t c) { return signatures.data() + c / bands * num_hashes + c % bands * rows; };
    std::size_t c = 0;
    for (; c + kLanes <= count; c += kLanes) {
        const std::uint64_t* values[kLanes];
        std::uint64_t h[kLanes];
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            values[lane] = values_of(c + lane);
            h[lane] = band_seed((c + lane) % bands);
        }
        for (std::size_t row = 0; row < rows; ++row)
            for (std::size_t lane = 0; lane < kLanes; ++lane) h[lane] = band_step(h[lane], values[lane][row]);
        for (std::size_t lane = 0; lane < kLanes; ++lane) keys[c + lane] = h[lane];
    }
    for (; c < count; ++c) keys[c] = band_key({values_of(c), rows}, c % bands);
}

}  // namespace vorn::index
