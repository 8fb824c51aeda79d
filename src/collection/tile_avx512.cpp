// The tile kernels on AVX-512 (F, BW, DQ): 512-bit registers of 64, 32, 16
// or 8 lanes. Only this file is compiled for AVX-512; the dispatcher calls
// it on processors that have it.
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

// GCC 12's AVX-512 headers seed results with a deliberately undefined
// register, which its own flow analysis then reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "algo/char_masks.hpp"
#include "collection/tile_texts.hpp"
#include "simd/target.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

// Every function from here to the end is compiled for the level.
VORN_BEGIN_TARGET_AVX512
#include "collection/tile_lanes.hpp"

namespace vorn::collection::tile_detail {
namespace {

template <std::size_t W>
struct Avx512Lanes {
    using V = __m512i;
    static constexpr std::size_t kRegisterBits = 512;
    static constexpr std::size_t kLaneBits = W;
    static constexpr std::size_t kLanes = kRegisterBits / W;

    static V load(const std::uint64_t* p) noexcept { return _mm512_loadu_si512(p); }
    static void store(std::uint64_t* p, V v) noexcept { _mm512_storeu_si512(p, v); }
    static V zero() noexcept { return _mm512_setzero_si512(); }
    static V ones() noexcept { return _mm512_set1_epi64(-1); }
    static V and_(V a, V b) noexcept { return _mm512_and_si512(a, b); }
    static V or_(V a, V b) noexcept { return _mm512_or_si512(a, b); }
    static V xor_(V a, V b) noexcept { return _mm512_xor_si512(a, b); }
    static V andnot(V a, V b) noexcept { return _mm512_andnot_si512(a, b); }  // ~a & b

    static V lane_one() noexcept {
        if constexpr (W == 8) return _mm512_set1_epi8(1);
        else if constexpr (W == 16) return _mm512_set1_epi16(1);
        else if constexpr (W == 32) return _mm512_set1_epi32(1);
        else return _mm512_set1_epi64(1);
    }
    // Every lane set to the low W bits of value.
    static V broadcast(std::uint64_t value) noexcept {
        if constexpr (W == 8) return _mm512_set1_epi8(static_cast<char>(value));
        else if constexpr (W == 16) return _mm512_set1_epi16(static_cast<short>(value));
        else if constexpr (W == 32) return _mm512_set1_epi32(static_cast<int>(value));
        else return _mm512_set1_epi64(static_cast<long long>(value));
    }
    static V add(V a, V b) noexcept {
        if constexpr (W == 8) return _mm512_add_epi8(a, b);
        else if constexpr (W == 16) return _mm512_add_epi16(a, b);
        else if constexpr (W == 32) return _mm512_add_epi32(a, b);
        else return _mm512_add_epi64(a, b);
    }
    static V sub(V a, V b) noexcept {
        if constexpr (W == 8) return _mm512_sub_epi8(a, b);
        else if constexpr (W == 16) return _mm512_sub_epi16(a, b);
        else if constexpr (W == 32) return _mm512_sub_epi32(a, b);
        else return _mm512_sub_epi64(a, b);
    }
    // All ones in the lanes that are zero.
    static V eq_zero(V a) noexcept {
        const V z = zero();
        if constexpr (W == 8) return _mm512_movm_epi8(_mm512_cmpeq_epi8_mask(a, z));
        else if constexpr (W == 16) return _mm512_movm_epi16(_mm512_cmpeq_epi16_mask(a, z));
        else if constexpr (W == 32) return _mm512_movm_epi32(_mm512_cmpeq_epi32_mask(a, z));
        else return _mm512_movm_epi64(_mm512_cmpeq_epi64_mask(a, z));
    }
    // All ones in the lanes that are positive as signed numbers.
    static V gt_zero(V a) noexcept {
        const V z = zero();
        if constexpr (W == 8) return _mm512_movm_epi8(_mm512_cmpgt_epi8_mask(a, z));
        else if constexpr (W == 16) return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, z));
        else if constexpr (W == 32) return _mm512_movm_epi32(_mm512_cmpgt_epi32_mask(a, z));
        else return _mm512_movm_epi64(_mm512_cmpgt_epi64_mask(a, z));
    }
    // The number of set bits of each lane.
    static V popcount(V x) noexcept {
        const V table = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
        const V nibble = _mm512_set1_epi8(0x0F);
        const V bytes = _mm512_add_epi8(_mm512_shuffle_epi8(table, _mm512_and_si512(x, nibble)),
                                        _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble)));
        if constexpr (W == 8) return bytes;
        else if constexpr (W == 64) return _mm512_sad_epu8(bytes, zero());
        else {
            const V halves =
                _mm512_and_si512(_mm512_add_epi16(bytes, _mm512_srli_epi16(bytes, 8)), _mm512_set1_epi16(0xFF));
            if constexpr (W == 16) return halves;
            else
                return _mm512_and_si512(_mm512_add_epi32(halves, _mm512_srli_epi32(halves, 16)),
                                        _mm512_set1_epi32(0xFFFF));
        }
    }
};

// A pattern of 1 to 64 bytes, characters below U+0100; match(c) compares c
// with all of them.
struct Avx512BytePattern : ByteSteps<Avx512BytePattern> {
    __m512i bytes;
    // A masked load: no byte beyond the text is read.
    explicit Avx512BytePattern(std::string_view text) noexcept
        : bytes(_mm512_maskz_loadu_epi8(low_bits(text.size()), text.data())) {}
    static bool both_ascii(std::string_view a, std::string_view b) noexcept {
        if (a.size() > 64 || b.size() > 64) return ByteSteps::both_ascii(a, b);
        const __m512i either = _mm512_or_si512(_mm512_maskz_loadu_epi8(low_bits(a.size()), a.data()),
                                               _mm512_maskz_loadu_epi8(low_bits(b.size()), b.data()));
        return _mm512_movepi8_mask(either) == 0;
    }
    // The masks of the text's bytes, and for texts of up to 64 bytes of the
    // NULs after it up to a multiple of 8 (masks past a text are never
    // read): whole blocks of 8 leave the loop's end less to mispredict.
    void match_all(std::string_view text, std::uint64_t* eq, std::size_t stride) const noexcept {
        if (text.size() > 64) return ByteSteps::match_all(text, eq, stride);
        alignas(64) unsigned char padded[64];
        _mm512_store_si512(padded, _mm512_maskz_loadu_epi8(low_bits(text.size()), text.data()));
        for (std::size_t j = 0; j < text.size(); j += 8)
            for (std::size_t k = j; k < j + 8; ++k) eq[k * stride] = match(padded[k]);
    }
    std::uint64_t match(char32_t c) const noexcept {
        return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(c)));
    }
    // latin1, with the bytes of a text of up to 64 checked at once
    // rather than branched on one by one.
    static bool latin1(std::string_view text, unsigned char* out, std::size_t& count) noexcept {
        if (text.empty() || text.size() > 64) return ByteSteps::latin1(text, out, count);
        const __mmask64 in = low_bits(text.size());
        const __m512i bytes = _mm512_maskz_loadu_epi8(in, text.data());
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        const __mmask64 lead =
            _mm512_mask_cmpeq_epi8_mask(high, _mm512_and_si512(bytes, _mm512_set1_epi8(static_cast<char>(0xFE))),
                                        _mm512_set1_epi8(static_cast<char>(0xC2)));
        const __mmask64 continuation =
            _mm512_mask_cmplt_epu8_mask(high, bytes, _mm512_set1_epi8(static_cast<char>(0xC0)));
        // Every byte beyond ASCII is C2 or C3 with one continuation byte
        // inside the text after it, or that continuation byte.
        if ((lead | continuation) != high || continuation != lead << 1 || (lead & in >> 1) != lead) return false;
        // C2 xx is U+00xx and C3 xx is U+00xx + 0x40, for xx in 80..BF.
        const __mmask64 after_c3 = _mm512_mask_cmpeq_epi8_mask(lead, bytes, _mm512_set1_epi8(static_cast<char>(0xC3)))
                                   << 1;
        __m512i values = _mm512_mask_add_epi8(bytes, after_c3, bytes, _mm512_set1_epi8(0x40));
        // Drops the lead bytes, the last first so that positions below it
        // stay put, in the register: one wide store then gives the pattern's
        // and the match loop's loads a store to read from, where a byte at a
        // time would make them wait.
        for (std::uint64_t rest = lead; rest != 0;) {
            const int at = 63 - std::countl_zero(rest);
            rest &= ~(std::uint64_t{1} << at);
            const __m512i down_one =
                _mm512_alignr_epi8(_mm512_alignr_epi32(_mm512_setzero_si512(), values, 4), values, 1);
            values = _mm512_mask_mov_epi8(values, ~std::uint64_t{0} << at, down_one);
        }
        _mm512_storeu_si512(out, values);
        count = text.size() - static_cast<std::size_t>(std::popcount(lead));
        return true;
    }
};

// A pattern of 1 to 64 code points, 16 to a register.
struct Avx512CodePointPattern {
    __m512i quarters[4];
    std::size_t used;
    Avx512CodePointPattern(const char32_t* chars, std::size_t m) noexcept : used((m + 15) / 16) {
        for (std::size_t k = 0; k < used; ++k) quarters[k] = _mm512_loadu_si512(chars + 16 * k);
    }
    std::uint64_t match(char32_t c) const noexcept {
        const __m512i wanted = _mm512_set1_epi32(static_cast<int>(c));
        std::uint64_t bits = _mm512_cmpeq_epi32_mask(quarters[0], wanted);
        for (std::size_t k = 1; k < used; ++k)
            bits |= std::uint64_t{_mm512_cmpeq_epi32_mask(quarters[k], wanted)} << (16 * k);
        return bits;
    }
};

}  // namespace

void levenshtein_pairs_avx512(std::span<const std::string_view> a, std::span<const std::string_view> b,
                              std::uint64_t* out, std::uint64_t max_distance) {
    levenshtein_pairs_with<Avx512Lanes<64>, Avx512BytePattern, Avx512CodePointPattern>(a, b, out, max_distance);
}

std::unique_ptr<PackedChoices> pack_choices_avx512(const DecodedTexts& choices, std::span<const std::uint32_t> ids) {
    return std::make_unique<LanePackedChoices<Avx512Lanes, 8, 16, 32, 64>>(choices, ids);
}

}  // namespace vorn::collection::tile_detail

VORN_END_TARGET
#pragma GCC diagnostic pop
