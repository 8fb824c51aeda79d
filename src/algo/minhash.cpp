// MinHash: permutation i maps a shingle hash h to
// ((a_i * h + b_i) mod 2^64) mod (2^61 - 1).
//
// Distinct shingles are deduplicated by their FNV-1a value: two shingles
// with the same hash contribute the same value to every minimum, so this
// is the same as deduplicating the shingles themselves, and the order of
// the values does not matter. The signature is
// filled in blocks of permutations whose parameters sit on the stack; the
// inner loop runs over the permutations of a block, which the compiler
// vectorises.
#include "algo/minhash.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "algo/shingles.hpp"
#include "support/hash.hpp"

namespace vorn::algo {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kMersenne61 = (std::uint64_t{1} << 61) - 1;
constexpr std::size_t kBlock = 256;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORN_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define VORN_AVX2_CLONE
#endif

// v mod (2^61 - 1) for any 64-bit v: v = q * 2^61 + r is congruent to
// q + r, which is below 2 * (2^61 - 1), so one conditional subtraction
// finishes. Shifts, masks and a compare only, so it vectorises.
inline std::uint64_t mod_mersenne61(std::uint64_t v) noexcept {
    std::uint64_t r = (v & kMersenne61) + (v >> 61);
    return r >= kMersenne61 ? r - kMersenne61 : r;
}

// Parameters of permutation i.
inline std::uint64_t permutation_b(std::uint64_t i) noexcept { return (i + 1) * kGolden + 0x1234; }
inline std::uint64_t permutation_a(std::uint64_t i) noexcept { return (permutation_b(i) + 0x9999) | 1; }

// Lowers sig[0..len) by the permutations base .. base + len - 1. Baseline
// x86-64 has no 64-bit vector compare, so an AVX2 clone is chosen at load
// time where the processor has it (about twice as fast).
VORN_AVX2_CLONE void apply_block(const std::vector<std::uint64_t>& hashes, std::uint64_t base, std::size_t len,
                 std::uint64_t* __restrict sig) noexcept {
    std::uint64_t a[kBlock], b[kBlock];
    for (std::size_t j = 0; j < len; ++j) {
        b[j] = permutation_b(base + j);
        a[j] = permutation_a(base + j);
    }
    for (std::uint64_t h : hashes) {
        for (std::size_t j = 0; j < len; ++j) {
            std::uint64_t v = mod_mersenne61(a[j] * h + b[j]);
            sig[j] = v < sig[j] ? v : sig[j];
        }
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORN_MINHASH_AVX2 1

constexpr std::size_t kLanes = 4;         // 64-bit lanes of a 256-bit register
constexpr std::size_t kGroupVectors = 4;  // registers of minima kept live per pass
constexpr std::size_t kGroup = kLanes * kGroupVectors;

// Fills sig[0..count) with whole groups of permutations, every minimum
// kept in a register while the hashes stream past, and returns how many
// it filled. AVX2 has no 64-bit multiply, so a * h mod 2^64 is put together
// from three 32-bit products. Reduced values are below 2^61, so the
// signed 64-bit compare orders them correctly, and M itself, larger than
// any of them, starts each minimum.
__attribute__((target("avx2"))) std::size_t fill_groups_avx2(const std::vector<std::uint64_t>& hashes,
                                                             std::size_t count, std::uint64_t* sig) noexcept {
    const __m256i modulus = _mm256_set1_epi64x(static_cast<long long>(kMersenne61));
    const __m256i below_modulus = _mm256_set1_epi64x(static_cast<long long>(kMersenne61 - 1));
    std::size_t filled = 0;
    for (; filled + kGroup <= count && !hashes.empty(); filled += kGroup) {
        __m256i a[kGroupVectors], a_high[kGroupVectors], b[kGroupVectors], minimum[kGroupVectors];
        for (std::size_t v = 0; v < kGroupVectors; ++v) {
            alignas(32) std::uint64_t a_lanes[kLanes], b_lanes[kLanes];
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                a_lanes[lane] = permutation_a(filled + v * kLanes + lane);
                b_lanes[lane] = permutation_b(filled + v * kLanes + lane);
            }
            a[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(a_lanes));
            b[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(b_lanes));
            a_high[v] = _mm256_srli_epi64(a[v], 32);
            minimum[v] = modulus;
        }
        for (std::uint64_t h : hashes) {
            const __m256i h_low = _mm256_set1_epi64x(static_cast<long long>(h));
            const __m256i h_high = _mm256_set1_epi64x(static_cast<long long>(h >> 32));
            for (std::size_t v = 0; v < kGroupVectors; ++v) {
                const __m256i cross =
                    _mm256_add_epi64(_mm256_mul_epu32(a_high[v], h_low), _mm256_mul_epu32(a[v], h_high));
                const __m256i product = _mm256_add_epi64(_mm256_mul_epu32(a[v], h_low), _mm256_slli_epi64(cross, 32));
                const __m256i value = _mm256_add_epi64(product, b[v]);
                __m256i reduced = _mm256_add_epi64(_mm256_and_si256(value, modulus), _mm256_srli_epi64(value, 61));
                reduced = _mm256_sub_epi64(
                    reduced, _mm256_and_si256(_mm256_cmpgt_epi64(reduced, below_modulus), modulus));
                minimum[v] = _mm256_blendv_epi8(minimum[v], reduced, _mm256_cmpgt_epi64(minimum[v], reduced));
            }
        }
        for (std::size_t v = 0; v < kGroupVectors; ++v)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(sig + filled + v * kLanes), minimum[v]);
    }
    return filled;
}

bool has_avx2() noexcept {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}
#endif

// Open-addressing set of 64-bit values, kept at most half full; 0 marks a
// free slot, so the value 0 is remembered apart.
class HashSet {
public:
    // Returns true when the value was not in the set yet.
    bool insert(std::uint64_t h) {
        if (h == 0) return !std::exchange(has_zero_, true);
        if (2 * (size_ + 1) > table_.size()) grow();
        if (!place(h)) return false;
        ++size_;
        return true;
    }

private:
    bool place(std::uint64_t h) noexcept {
        const std::size_t mask = table_.size() - 1;
        for (std::size_t i = (h * kGolden) >> shift_;; i = (i + 1) & mask) {
            if (table_[i] == h) return false;
            if (table_[i] == 0) {
                table_[i] = h;
                return true;
            }
        }
    }

    void grow() {
        std::vector<std::uint64_t> old(std::max<std::size_t>(64, 2 * table_.size()), 0);
        old.swap(table_);
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(table_.size()));
        for (std::uint64_t h : old)
            if (h != 0) place(h);
    }

    std::vector<std::uint64_t> table_;
    std::size_t size_ = 0;
    unsigned shift_ = 64;
    bool has_zero_ = false;
};

// The distinct FNV-1a values of the text's shingles, in first-seen order.
Expected<std::vector<std::uint64_t>, InvalidArgument> distinct_shingle_hashes(std::string_view text,
                                                                             std::uint64_t shingle_size) {
    HashSet seen;
    std::vector<std::uint64_t> distinct;
    auto shingles = char_shingles(text, shingle_size, [&](std::string_view shingle) {
        const std::uint64_t h = support::fnv1a(shingle);
        if (seen.insert(h)) distinct.push_back(h);
    });
    if (!shingles) return shingles.error();
    return distinct;
}

}  // namespace

Expected<std::vector<std::uint64_t>, InvalidArgument> minhash_signature(std::string_view text,
                                                                       std::uint64_t shingle_size,
                                                                       std::uint64_t num_hashes) {
    auto hashes = distinct_shingle_hashes(text, shingle_size);
    if (!hashes) return hashes.error();

    // 8 * num_hashes must not wrap and must stay within what a vector can hold.
    std::vector<std::uint64_t> sig;
    if (num_hashes > std::numeric_limits<std::size_t>::max() / sizeof(std::uint64_t) ||
        num_hashes > sig.max_size())
        throw std::length_error("capacity overflow");
    sig.assign(static_cast<std::size_t>(num_hashes), std::numeric_limits<std::uint64_t>::max());

    std::size_t filled = 0;
#ifdef VORN_MINHASH_AVX2
    if (has_avx2()) filled = fill_groups_avx2(*hashes, sig.size(), sig.data());
#endif
    for (std::size_t base = filled; base < sig.size(); base += kBlock) {
        apply_block(*hashes, base, std::min(kBlock, sig.size() - base), sig.data() + base);
    }
    return sig;
}

double minhash_signature_similarity(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept {
    const std::size_t len = std::min(a.size(), b.size());
    std::size_t matches = 0;
    for (std::size_t i = 0; i < len; ++i) matches += a[i] == b[i];
    return static_cast<double>(matches) / static_cast<double>(len);
}

Expected<double, InvalidArgument> minhash_similarity(std::string_view a, std::string_view b,
                                                     std::uint64_t shingle_size, std::uint64_t num_hashes) {
    auto sig_a = minhash_signature(a, shingle_size, num_hashes);
    if (!sig_a) return sig_a.error();
    auto sig_b = minhash_signature(b, shingle_size, num_hashes);
    if (!sig_b) return sig_b.error();
    return minhash_signature_similarity(*sig_a, *sig_b);
}

}  // namespace vorn::algo
