// The tile kernels on AVX2: 256-bit registers of 32, 16, 8 or 4 lanes.
// Only this file is compiled for AVX2; the dispatcher calls it on
// processors that have it.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include <immintrin.h>

#include "algo/char_masks.hpp"
#include "collection/tile_texts.hpp"
#include "simd/target.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

// Every function from here to the end is compiled for the level.
VORN_BEGIN_TARGET_AVX2
#include "collection/tile_lanes.hpp"

namespace vorn::collection::tile_detail {
namespace {

template <std::size_t W>
struct Avx2Lanes {
    using V = __m256i;
    static constexpr std::size_t kRegisterBits = 256;
    static constexpr std::size_t kLaneBits = W;
    static constexpr std::size_t kLanes = kRegisterBits / W;

    static V load(const std::uint64_t* p) noexcept { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void store(std::uint64_t* p, V v) noexcept { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static V zero() noexcept { return _mm256_setzero_si256(); }
    static V ones() noexcept { return _mm256_set1_epi64x(-1); }
    static V and_(V a, V b) noexcept { return _mm256_and_si256(a, b); }
    static V or_(V a, V b) noexcept { return _mm256_or_si256(a, b); }
    static V xor_(V a, V b) noexcept { return _mm256_xor_si256(a, b); }
    static V andnot(V a, V b) noexcept { return _mm256_andnot_si256(a, b); }  // ~a & b

    static V lane_one() noexcept {
        if constexpr (W == 8) return _mm256_set1_epi8(1);
        else if constexpr (W == 16) return _mm256_set1_epi16(1);
        else if constexpr (W == 32) return _mm256_set1_epi32(1);
        else return _mm256_set1_epi64x(1);
    }
    // Every lane set to the low W bits of value.
    static V broadcast(std::uint64_t value) noexcept {
        if constexpr (W == 8) return _mm256_set1_epi8(static_cast<char>(value));
        else if constexpr (W == 16) return _mm256_set1_epi16(static_cast<short>(value));
        else if constexpr (W == 32) return _mm256_set1_epi32(static_cast<int>(value));
        else return _mm256_set1_epi64x(static_cast<long long>(value));
    }
    static V add(V a, V b) noexcept {
        if constexpr (W == 8) return _mm256_add_epi8(a, b);
        else if constexpr (W == 16) return _mm256_add_epi16(a, b);
        else if constexpr (W == 32) return _mm256_add_epi32(a, b);
        else return _mm256_add_epi64(a, b);
    }
    static V sub(V a, V b) noexcept {
        if constexpr (W == 8) return _mm256_sub_epi8(a, b);
        else if constexpr (W == 16) return _mm256_sub_epi16(a, b);
        else if constexpr (W == 32) return _mm256_sub_epi32(a, b);
        else return _mm256_sub_epi64(a, b);
    }
    // All ones in the lanes that are zero.
    static V eq_zero(V a) noexcept {
        const V z = zero();
        if constexpr (W == 8) return _mm256_cmpeq_epi8(a, z);
        else if constexpr (W == 16) return _mm256_cmpeq_epi16(a, z);
        else if constexpr (W == 32) return _mm256_cmpeq_epi32(a, z);
        else return _mm256_cmpeq_epi64(a, z);
    }
    // All ones in the lanes that are positive as signed numbers.
    static V gt_zero(V a) noexcept {
        const V z = zero();
        if constexpr (W == 8) return _mm256_cmpgt_epi8(a, z);
        else if constexpr (W == 16) return _mm256_cmpgt_epi16(a, z);
        else if constexpr (W == 32) return _mm256_cmpgt_epi32(a, z);
        else return _mm256_cmpgt_epi64(a, z);
    }
    // The number of set bits of each lane.
    static V popcount(V x) noexcept {
        const V table = _mm256_broadcastsi128_si256(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
        const V nibble = _mm256_set1_epi8(0x0F);
        const V bytes = _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble)),
                                        _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
        if constexpr (W == 8) return bytes;
        else if constexpr (W == 64) return _mm256_sad_epu8(bytes, zero());
        else {
            const V halves =
                _mm256_and_si256(_mm256_add_epi16(bytes, _mm256_srli_epi16(bytes, 8)), _mm256_set1_epi16(0xFF));
            if constexpr (W == 16) return halves;
            else
                return _mm256_and_si256(_mm256_add_epi32(halves, _mm256_srli_epi32(halves, 16)),
                                        _mm256_set1_epi32(0xFFFF));
        }
    }
};

// A pattern of 1 to 64 bytes (characters below U+0100) in two registers,
// zero-padded.
struct Avx2BytePattern : ByteSteps<Avx2BytePattern> {
    __m256i low, high;
    explicit Avx2BytePattern(std::string_view text) noexcept {
        alignas(32) char padded[64] = {};
        std::memcpy(padded, text.data(), text.size());
        low = _mm256_load_si256(reinterpret_cast<const __m256i*>(padded));
        high = _mm256_load_si256(reinterpret_cast<const __m256i*>(padded + 32));
    }
    std::uint64_t match(char32_t c) const noexcept {
        const __m256i wanted = _mm256_set1_epi8(static_cast<char>(c));
        const auto low_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
        const auto high_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
        return low_bits | std::uint64_t{high_bits} << 32;
    }
};

// A pattern of 1 to 64 code points, 8 to a register.
struct Avx2CodePointPattern {
    __m256i eighths[8];
    std::size_t used;
    Avx2CodePointPattern(const char32_t* chars, std::size_t m) noexcept : used((m + 7) / 8) {
        for (std::size_t k = 0; k < used; ++k)
            eighths[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chars + 8 * k));
    }
    std::uint64_t match(char32_t c) const noexcept {
        const __m256i wanted = _mm256_set1_epi32(static_cast<int>(c));
        std::uint64_t bits = 0;
        for (std::size_t k = 0; k < used; ++k) {
            const __m256 equal = _mm256_castsi256_ps(_mm256_cmpeq_epi32(eighths[k], wanted));
            bits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_ps(equal))} << (8 * k);
        }
        return bits;
    }
};

}  // namespace

void levenshtein_pairs_avx2(std::span<const std::string_view> a, std::span<const std::string_view> b,
                            std::uint64_t* out, std::uint64_t max_distance) {
    levenshtein_pairs_with<Avx2Lanes<64>, Avx2BytePattern, Avx2CodePointPattern>(a, b, out, max_distance);
}

std::unique_ptr<PackedChoices> pack_choices_avx2(const DecodedTexts& choices, std::span<const std::uint32_t> ids) {
    return std::make_unique<LanePackedChoices<Avx2Lanes, 8, 16, 32, 64>>(choices, ids);
}

}  // namespace vorn::collection::tile_detail

VORN_END_TARGET
