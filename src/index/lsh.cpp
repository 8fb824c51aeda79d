#include "index/lsh.hpp"

#include <cmath>

#include "support/hash.hpp"

namespace vorn::index {
namespace {

using support::kGoldenRatio64;
// Even number of Simpson intervals; the integrands are polynomials of
// modest degree, smooth enough that this is far below any difference that
// decides between two shapes.
constexpr int kSimpsonIntervals = 512;

template <class F>
double simpson(F f, double lo, double hi) noexcept {
    if (!(hi > lo)) return 0.0;
    const double step = (hi - lo) / kSimpsonIntervals;
    double sum = f(lo) + f(hi);
    for (int i = 1; i < kSimpsonIntervals; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(lo + i * step);
    return sum * step / 3.0;
}

}  // namespace

double candidate_probability(double s, std::uint64_t bands, std::uint64_t rows) noexcept {
    return 1.0 - std::pow(1.0 - std::pow(s, static_cast<double>(rows)), static_cast<double>(bands));
}

double band_shape_error(double threshold, std::uint64_t bands, std::uint64_t rows, double fp_weight,
                        double fn_weight) noexcept {
    const double false_positive =
        simpson([&](double s) { return candidate_probability(s, bands, rows); }, 0.0, threshold);
    const double false_negative =
        simpson([&](double s) { return 1.0 - candidate_probability(s, bands, rows); }, threshold, 1.0);
    return fp_weight * false_positive + fn_weight * false_negative;
}

Expected<BandShape, InvalidArgument> choose_band_shape(double threshold, std::uint64_t num_hashes, double fp_weight,
                                                       double fn_weight) {
    if (!(threshold >= 0.0 && threshold <= 1.0)) return InvalidArgument{"threshold must be in [0, 1]"};
    if (num_hashes == 0) return InvalidArgument{"num_hashes must be positive"};
    if (!(std::isfinite(fp_weight) && std::isfinite(fn_weight) && fp_weight >= 0.0 && fn_weight >= 0.0) ||
        fp_weight + fn_weight == 0.0)
        return InvalidArgument{"weights must be finite, non-negative and not both zero"};
    BandShape best{1, 1};
    double best_error = INFINITY;
    for (std::uint64_t bands = 1; bands <= num_hashes; ++bands) {
        for (std::uint64_t rows = 1; rows <= num_hashes / bands; ++rows) {
            const double error = band_shape_error(threshold, bands, rows, fp_weight, fn_weight);
            if (error < best_error) {
                best_error = error;
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

std::uint64_t band_key(std::span<const std::uint64_t> band_values, std::uint64_t band) noexcept {
    // Each step is a bijection of h, so the key depends on every value.
    std::uint64_t h = support::detail::mix((band + 1) * kGoldenRatio64);
    for (std::uint64_t value : band_values) h = support::detail::mix(h ^ value) + kGoldenRatio64;
    return h;
}

void band_keys(std::span<const std::uint64_t> signatures, std::size_t num_hashes, BandShape shape,
               std::span<std::uint64_t> keys) noexcept {
    const std::size_t n = num_hashes == 0 ? 0 : signatures.size() / num_hashes;
    const std::size_t bands = shape.bands, rows = shape.rows;
    for (std::size_t i = 0; i < n; ++i) {
        const auto signature = signatures.subspan(i * num_hashes, num_hashes);
        for (std::size_t band = 0; band < bands; ++band)
            keys[i * bands + band] = band_key(signature.subspan(band * rows, rows), band);
    }
}

}  // namespace vorn::index
