// The permutation loop of MinHash without a 64-bit multiply per permutation.
//
// The parameters form an arithmetic progression. With G the golden-ratio
// constant, b_i = (i + 1)G + 0x1234 and a_i = ((i + 1)G + 0xABCD) | 1; G and
// 0xABCD are odd, so (i + 1)G + 0xABCD is even, and the OR adds 1, exactly
// when i is even. Hence, modulo 2^64, with K = G(h + 1) and
// C = 0xABCD h + 0x1234,
//     a_i h + b_i = (i + 1)K + C + (h when i is even, else 0),
// and permutation i + 2 is permutation i plus 2K: one add per permutation
// and hash, then the Mersenne reduction and the minimum.
#include "algo/minhash_kernels.hpp"

#include <cstddef>

#include "simd/target.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VORN_MINHASH_X86 1
#endif

namespace vorn::algo::minhash {
namespace {

constexpr std::uint64_t kMersenne61 = (std::uint64_t{1} << 61) - 1;

// K and C of a hash.
inline std::uint64_t step_of(std::uint64_t h) noexcept { return support::kGoldenRatio64 * (h + 1); }
inline std::uint64_t offset_of(std::uint64_t h) noexcept { return 0xABCD * h + 0x1234; }

// a_i h + b_i for an even i, without the h that even permutations add.
inline std::uint64_t even_base(std::uint64_t i, std::uint64_t step, std::uint64_t offset) noexcept {
    return (i + 1) * step + offset;
}

// v mod (2^61 - 1) for any 64-bit v: v = q * 2^61 + r is congruent to
// q + r, which is below 2 * (2^61 - 1), so one conditional subtraction
// finishes.
inline std::uint64_t mod_mersenne61(std::uint64_t v) noexcept {
    const std::uint64_t r = (v & kMersenne61) + (v >> 61);
    return r >= kMersenne61 ? r - kMersenne61 : r;
}

// Permutations first .. first + sig.size() - 1; first is even. Blocks of
// permutations keep the minima being lowered in the first cache level.
void lower_portable(std::span<const std::uint64_t> hashes, std::uint64_t first, std::span<std::uint64_t> sig) noexcept {
    constexpr std::size_t kBlock = 256;
    for (std::size_t begin = 0; begin < sig.size(); begin += kBlock) {
        const std::size_t count = std::min(kBlock, sig.size() - begin);
        std::uint64_t* const minimum = sig.data() + begin;
        for (const std::uint64_t h : hashes) {
            const std::uint64_t step = step_of(h);
            std::uint64_t even = even_base(first + begin, step, offset_of(h)) + h;
            std::uint64_t odd = even - h + step;
            const std::uint64_t two_steps = 2 * step;
            std::size_t j = 0;
            for (; j + 1 < count; j += 2, even += two_steps, odd += two_steps) {
                const std::uint64_t v0 = mod_mersenne61(even), v1 = mod_mersenne61(odd);
                minimum[j] = v0 < minimum[j] ? v0 : minimum[j];
                minimum[j + 1] = v1 < minimum[j + 1] ? v1 : minimum[j + 1];
            }
            if (j < count) {
                const std::uint64_t v0 = mod_mersenne61(even);
                minimum[j] = v0 < minimum[j] ? v0 : minimum[j];
            }
        }
    }
}

#ifdef VORN_MINHASH_X86

// The lesser of two values below 2^62, compared as the doubles with their
// bits: those are positive and finite (subnormal below 2^52), and order
// like the integers. One floating-point minimum takes the place of AVX2's
// compare and blend, and a `minimum` of all ones (a NaN) gives way to
// `value`. Exact only while subnormals are not read as zero, which the
// caller sees to (DenormalsKept). AVX-512 has the unsigned minimum itself.
VORN_TARGET_AVX2 inline __m256i least_as_doubles(__m256i minimum, __m256i value) noexcept {
    return _mm256_castpd_si256(_mm256_min_pd(_mm256_castsi256_pd(minimum), _mm256_castsi256_pd(value)));
}

// For its lifetime, subnormal doubles are read and written as they are
// (the DAZ and FTZ bits of MXCSR clear) and floating-point exceptions are
// masked, whatever the caller's code set; the caller's MXCSR, status flags
// included, comes back after.
class DenormalsKept {
public:
    DenormalsKept() noexcept : saved_(_mm_getcsr()) {
        constexpr unsigned kDenormalsAreZero = 1u << 6, kFlushToZero = 1u << 15, kAllMasked = 0x3Fu << 7;
        _mm_setcsr((saved_ | kAllMasked) & ~(kDenormalsAreZero | kFlushToZero));
    }
    ~DenormalsKept() { _mm_setcsr(saved_); }
    DenormalsKept(const DenormalsKept&) = delete;
    DenormalsKept& operator=(const DenormalsKept&) = delete;

private:
    unsigned saved_;
};

// Groups of Vectors registers of four permutations each: the minima stay in
// registers while the hashes stream past, in the two passes of the AVX-512
// kernel below. AVX2 compares 64-bit lanes only as signed numbers, which
// orders values below 2^63; the exact pass starts an untouched minimum (all
// ones, -1 when signed) at 2^61 - 1, larger than any reduced value.
template <std::size_t Vectors, bool Exact>
VORN_TARGET_AVX2 bool lower_group_avx2(std::span<const std::uint64_t> hashes, std::uint64_t first,
                                       std::uint64_t* sig) noexcept {
    constexpr std::uint64_t kShift = Exact ? 0 : 8;
    const __m256i modulus = _mm256_set1_epi64x(static_cast<long long>(kMersenne61));
    const __m256i below_modulus = _mm256_set1_epi64x(static_cast<long long>(kMersenne61 - 1));
    const __m256i all_ones = _mm256_set1_epi64x(-1);
    const __m256i shift = _mm256_set1_epi64x(static_cast<long long>(kShift));
    __m256i minimum[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) {
        const __m256i start = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sig + 4 * v));
        const __m256i untouched = _mm256_cmpeq_epi64(start, all_ones);
        minimum[v] = Exact ? _mm256_blendv_epi8(start, modulus, untouched)
                           : _mm256_blendv_epi8(_mm256_add_epi64(start, shift), start, untouched);
    }
    for (const std::uint64_t h : hashes) {
        const std::uint64_t step = step_of(h);
        const std::uint64_t base = even_base(first, step, offset_of(h)) + kShift;
        // Permutations first .. first + 3.
        __m256i value =
            _mm256_add_epi64(_mm256_set1_epi64x(static_cast<long long>(base)),
                             _mm256_set_epi64x(static_cast<long long>(3 * step), static_cast<long long>(2 * step + h),
                                               static_cast<long long>(step), static_cast<long long>(h)));
        const __m256i four_steps = _mm256_set1_epi64x(static_cast<long long>(4 * step));
        for (std::size_t v = 0; v < Vectors; ++v) {
            __m256i reduced = _mm256_add_epi64(_mm256_and_si256(value, modulus), _mm256_srli_epi64(value, 61));
            if constexpr (Exact) {
                reduced =
                    _mm256_sub_epi64(reduced, _mm256_and_si256(_mm256_cmpgt_epi64(reduced, below_modulus), modulus));
                minimum[v] = _mm256_blendv_epi8(minimum[v], reduced, _mm256_cmpgt_epi64(minimum[v], reduced));
            } else {
                minimum[v] = least_as_doubles(minimum[v], reduced);
            }
            value = _mm256_add_epi64(value, four_steps);
        }
    }
    if constexpr (!Exact) {
        __m256i least = minimum[0];
        for (std::size_t v = 1; v < Vectors; ++v) least = least_as_doubles(least, minimum[v]);
        if (_mm256_movemask_epi8(_mm256_cmpgt_epi64(_mm256_set1_epi64x(16), least)) != 0) return false;
        for (std::size_t v = 0; v < Vectors; ++v) minimum[v] = _mm256_sub_epi64(minimum[v], shift);
    }
    for (std::size_t v = 0; v < Vectors; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(sig + 4 * v), minimum[v]);
    return true;
}

template <std::size_t Vectors>
void lower_group_avx2(std::span<const std::uint64_t> hashes, std::uint64_t first, std::uint64_t* sig) noexcept {
    if (!lower_group_avx2<Vectors, false>(hashes, first, sig)) lower_group_avx2<Vectors, true>(hashes, first, sig);
}

// GCC 12 warns about the deliberately undefined source operand inside the
// AVX-512 shift and minimum intrinsics (GCC bug 105593).
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// Unsigned 64-bit minimum exists here, so the minima start from sig as it
// is. Exact reduces every value fully. The fast pass does one step less:
// it works on u = v + 8 and keeps the least y = (u & M) + (u >> 61), which
// is the reduced value of v plus 8 whenever v & M < M - 7. The other
// values of v (about 8 in 2^61) make y at most 14, so a group whose least y
// is below 16 is done again exactly from the values sig held before, which
// the fast pass left untouched; a genuine reduced value below 8 does so
// too, harmlessly.
template <std::size_t Vectors, bool Exact>
VORN_TARGET_AVX512 bool lower_group_avx512(std::span<const std::uint64_t> hashes, std::uint64_t first,
                                           std::uint64_t* sig) noexcept {
    constexpr std::uint64_t kShift = Exact ? 0 : 8;
    const __m512i modulus = _mm512_set1_epi64(static_cast<long long>(kMersenne61));
    const __m512i shift = _mm512_set1_epi64(static_cast<long long>(kShift));
    __m512i minimum[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) {
        // All ones (untouched) stays all ones; anything else is below M.
        const __m512i start = _mm512_loadu_si512(sig + 8 * v);
        minimum[v] = _mm512_mask_add_epi64(start, _mm512_cmpneq_epi64_mask(start, _mm512_set1_epi64(-1)), start, shift);
    }
    // The first vector's permutations are a_j h + b_j (b_j with the shift
    // added), one multiply per hash; each next vector adds 8K.
    alignas(64) std::uint64_t a_lanes[8], b_lanes[8];
    for (std::size_t lane = 0; lane < 8; ++lane) {
        a_lanes[lane] = permutation_a(first + lane);
        b_lanes[lane] = permutation_b(first + lane) + kShift;
    }
    const __m512i a = _mm512_load_si512(a_lanes), b = _mm512_load_si512(b_lanes);
    for (const std::uint64_t h : hashes) {
        const std::uint64_t step = step_of(h);
        __m512i value = _mm512_add_epi64(_mm512_mullo_epi64(a, _mm512_set1_epi64(static_cast<long long>(h))), b);
        const __m512i eight_steps = _mm512_set1_epi64(static_cast<long long>(8 * step));
        for (std::size_t v = 0; v < Vectors; ++v) {
            __m512i reduced = _mm512_add_epi64(_mm512_and_si512(value, modulus), _mm512_srli_epi64(value, 61));
            if constexpr (Exact) reduced = _mm512_min_epu64(reduced, _mm512_sub_epi64(reduced, modulus));
            minimum[v] = _mm512_min_epu64(minimum[v], reduced);
            value = _mm512_add_epi64(value, eight_steps);
        }
    }
    if constexpr (!Exact) {
        __m512i least = minimum[0];
        for (std::size_t v = 1; v < Vectors; ++v) least = _mm512_min_epu64(least, minimum[v]);
        if (_mm512_cmplt_epu64_mask(least, _mm512_set1_epi64(16)) != 0) return false;
        for (std::size_t v = 0; v < Vectors; ++v) minimum[v] = _mm512_sub_epi64(minimum[v], shift);
    }
    for (std::size_t v = 0; v < Vectors; ++v) _mm512_storeu_si512(sig + 8 * v, minimum[v]);
    return true;
}

template <std::size_t Vectors>
void lower_group_avx512(std::span<const std::uint64_t> hashes, std::uint64_t first, std::uint64_t* sig) noexcept {
    if (!lower_group_avx512<Vectors, false>(hashes, first, sig)) lower_group_avx512<Vectors, true>(hashes, first, sig);
}

// FNV-1a of eight windows at a time; returns how many windows it hashed.
VORN_TARGET_AVX512 std::size_t hash_windows_avx512(std::span<std::uint64_t> windows, unsigned width) noexcept {
    const __m512i prime = _mm512_set1_epi64(static_cast<long long>(support::kFnvPrime));
    const __m512i byte_mask = _mm512_set1_epi64(0xFF);
    std::size_t done = 0;
    for (; done + 8 <= windows.size(); done += 8) {
        const __m512i window = _mm512_loadu_si512(windows.data() + done);
        __m512i h = _mm512_set1_epi64(static_cast<long long>(support::kFnvOffsetBasis));
        for (unsigned shift = 0; shift != 8 * width; shift += 8) {
            const __m512i byte = _mm512_and_si512(_mm512_srli_epi64(window, shift), byte_mask);
            h = _mm512_mullo_epi64(_mm512_xor_si512(h, byte), prime);
        }
        _mm512_storeu_si512(windows.data() + done, h);
    }
    return done;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Whole groups of the widest size first, then narrower ones; returns how
// many permutations were done.
template <std::size_t Lanes, std::size_t Vectors, class Group>
std::size_t lower_groups(std::span<const std::uint64_t> hashes, std::span<std::uint64_t> sig, std::size_t done,
                         Group group) noexcept {
    constexpr std::size_t kWidth = Lanes * Vectors;
    for (; done + kWidth <= sig.size(); done += kWidth)
        group.template operator()<Vectors>(hashes, done, sig.data() + done);
    if constexpr (Vectors > 1) return lower_groups<Lanes, Vectors / 2>(hashes, sig, done, group);
    return done;
}

std::size_t lower_avx2(std::span<const std::uint64_t> hashes, std::span<std::uint64_t> sig) noexcept {
    const DenormalsKept exact_minimum;
    return lower_groups<4, 8>(hashes, sig, 0, []<std::size_t V>(auto h, std::uint64_t first, std::uint64_t* s) {
        lower_group_avx2<V>(h, first, s);
    });
}

std::size_t lower_avx512(std::span<const std::uint64_t> hashes, std::span<std::uint64_t> sig) noexcept {
    return lower_groups<8, 16>(hashes, sig, 0, []<std::size_t V>(auto h, std::uint64_t first, std::uint64_t* s) {
        lower_group_avx512<V>(h, first, s);
    });
}

#endif

}  // namespace

void lower(simd::Level level, std::span<const std::uint64_t> hashes, std::span<std::uint64_t> sig) noexcept {
    if (hashes.empty()) return;
    std::size_t done = 0;
    switch (simd::clamp_to_processor(level)) {
#ifdef VORN_MINHASH_X86
        case simd::Level::avx512: done = lower_avx512(hashes, sig); break;
        case simd::Level::avx2: done = lower_avx2(hashes, sig); break;
#endif
        default: break;
    }
    lower_portable(hashes, done, sig.subspan(done));
}

void hash_windows(simd::Level level, std::span<std::uint64_t> windows, unsigned width) noexcept {
    std::size_t done = 0;
#ifdef VORN_MINHASH_X86
    if (simd::clamp_to_processor(level) == simd::Level::avx512) done = hash_windows_avx512(windows, width);
#else
    (void)level;
#endif
    for (std::uint64_t& window : windows.subspan(done)) window = support::fnv1a_packed(window, width);
}

}  // namespace vorn::algo::minhash
