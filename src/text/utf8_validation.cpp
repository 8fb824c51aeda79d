// UTF-8 validation. The portable kernel walks the sequences. The vector
// kernels look at every byte together with the three before it, a block of
// 32 or 64 bytes at a time (the block before carried along):
//  - every pair of adjacent bytes is classified by three 16-entry tables,
//    indexed by the first byte's high nibble, its low nibble and the second
//    byte's high nibble; each table entry is the set of faults its nibble is
//    compatible with, so a pair is faulty exactly when the three sets share
//    a fault. The low nibble matters only for leads E0, ED, F0, F4 and above.
//  - a continuation byte after a continuation byte is a fault unless the
//    byte two before it leads a 3- or 4-byte sequence, or the byte three
//    before leads a 4-byte one; in those places a continuation is required.
// AVX2 skips runs of 128 bytes of ASCII, at nearly no cost on text with a
// character beyond ASCII every few words. AVX-512 checks every block whole:
// on such text any skip (of single blocks, runs of 128 to 512 bytes) slows
// it by a third or more, as much as it gains on ASCII alone. The bytes
// after the last whole block, and the character that straddles into them,
// go to the portable kernel.
#include "text/utf8_validation.hpp"

#include <cstddef>
#include <cstdint>

#include "simd/target.hpp"
#include "text/utf8.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VORN_UTF8_X86 1
#endif

namespace vorn::utf8 {
namespace {

bool is_valid_portable(const unsigned char* s, std::size_t n) noexcept {
    const std::string_view bytes(reinterpret_cast<const char*>(s), n);
    std::size_t i = 0;
    while (i < n) {
        // ASCII a word at a time, then straight to the first byte beyond it
        // (stepping byte by byte towards it costs a misprediction a byte).
        i = find_high_byte(bytes, i);
        if (i == n) break;
        const unsigned char lead = s[i];
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length || s[i + 1] < low || s[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

// The vector kernels have checked every byte before `checked` against the
// bytes before it, but not whether the last character is whole: the
// portable kernel checks that character again from its first byte (at most
// three back; a fourth continuation byte in a row is a fault it reports).
bool finish_portable(const unsigned char* s, std::size_t n, std::size_t checked) noexcept {
    std::size_t from = checked;
    if (checked > 0) {
        from = checked - 1;
        while (from > 0 && from + 4 > checked && is_continuation(s[from])) --from;
    }
    return is_valid_portable(s + from, n - from);
}

#ifdef VORN_UTF8_X86

// Faults of a pair of bytes (first, second), one bit each.
enum : unsigned char {
    kTooShort = 1 << 0,      // a lead, then no continuation
    kTooLong = 1 << 1,       // ASCII, then a continuation
    kOverlong3 = 1 << 2,     // E0, then 80..9F
    kTooLarge = 1 << 3,      // F4, then 90..BF; F5..FF, then 90..BF
    kSurrogate = 1 << 4,     // ED, then A0..BF
    kOverlong2 = 1 << 5,     // C0 or C1, then a continuation
    kTooLarge1000 = 1 << 6,  // F5..FF, then 80..8F
    kOverlong4 = 1 << 6,     // F0, then 80..8F
    kTwoConts = 1 << 7,      // a continuation, then a continuation (see must_continue)
};
constexpr unsigned char kCarry = kTooShort | kTooLong | kTwoConts;  // faults the low nibble does not decide

// clang-format off
alignas(16) constexpr unsigned char kFirstHigh[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,  // 0x00..0x7F
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,                                      // 0x80..0xBF
    kTooShort | kOverlong2,                                                          // 0xC0..0xCF
    kTooShort,                                                                       // 0xD0..0xDF
    kTooShort | kOverlong3 | kSurrogate,                                             // 0xE0..0xEF
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,                              // 0xF0..0xFF
};
alignas(16) constexpr unsigned char kFirstLow[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,    // x0
    kCarry | kOverlong2,                              // x1
    kCarry, kCarry,                                   // x2, x3
    kCarry | kTooLarge,                               // x4
    kCarry | kTooLarge | kTooLarge1000,               // x5
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,               // xC
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,  // xD
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
};
alignas(16) constexpr unsigned char kSecondHigh[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,  // 0x00..0x7F
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,            // 0x80..0x8F
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                             // 0x90..0x9F
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                             // 0xA0..0xAF
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                             // 0xB0..0xBF
    kTooShort, kTooShort, kTooShort, kTooShort,                                             // 0xC0..0xFF
};

// Subtracted with saturation from a block of 32 bytes, leaves a nonzero
// byte exactly where a sequence starts too late to end inside the block.
alignas(32) constexpr unsigned char kUnfinishedLimits[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0 - 1, 0xE0 - 1, 0xC0 - 1};
// clang-format on

// AVX2: shuffles and byte shifts work within 128-bit lanes, so the bytes
// before a block come from the lane before, across the two registers.
struct Avx2Tables {
    __m256i first_high, first_low, second_high;
};

VORN_TARGET_AVX2 inline __m256i broadcast_table_avx2(const unsigned char* table) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

// input shifted up by Back bytes, the block before filling the start.
template <int Back>
VORN_TARGET_AVX2 inline __m256i bytes_before_avx2(__m256i input, __m256i before) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(before, input, 0x21), 16 - Back);
}

VORN_TARGET_AVX2 inline __m256i block_faults_avx2(const Avx2Tables& tables, __m256i input, __m256i before) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i back1 = bytes_before_avx2<1>(input, before);
    const __m256i first_high =
        _mm256_shuffle_epi8(tables.first_high, _mm256_and_si256(_mm256_srli_epi16(back1, 4), nibble));
    const __m256i first_low = _mm256_shuffle_epi8(tables.first_low, _mm256_and_si256(back1, nibble));
    const __m256i second_high =
        _mm256_shuffle_epi8(tables.second_high, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble));
    const __m256i pair_faults = _mm256_and_si256(_mm256_and_si256(first_high, first_low), second_high);
    // High bit set where byte 2 back is E0 or above, or byte 3 back F0 or above.
    const __m256i third = _mm256_subs_epu8(bytes_before_avx2<2>(input, before), _mm256_set1_epi8(0xE0 - 0x80));
    const __m256i fourth = _mm256_subs_epu8(bytes_before_avx2<3>(input, before), _mm256_set1_epi8(0xF0 - 0x80));
    const __m256i must_continue =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must_continue, pair_faults);
}

// Checks the first `blocks` blocks of 32 bytes as described at the top.
// Runs of four blocks of ASCII are skipped: they need only the block before
// not to end inside a sequence.
VORN_TARGET_AVX2 bool blocks_valid_avx2(const unsigned char* s, std::size_t blocks) noexcept {
    const Avx2Tables tables{broadcast_table_avx2(kFirstHigh), broadcast_table_avx2(kFirstLow),
                            broadcast_table_avx2(kSecondHigh)};
    const __m256i limits = _mm256_load_si256(reinterpret_cast<const __m256i*>(kUnfinishedLimits));
    __m256i before = _mm256_setzero_si256(), faults = _mm256_setzero_si256();
    const auto* block = reinterpret_cast<const __m256i*>(s);
    std::size_t b = 0;
    for (; b + 4 <= blocks; b += 4) {
        const __m256i any =
            _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(block + b), _mm256_loadu_si256(block + b + 1)),
                            _mm256_or_si256(_mm256_loadu_si256(block + b + 2), _mm256_loadu_si256(block + b + 3)));
        if (_mm256_movemask_epi8(any) == 0) {
            faults = _mm256_or_si256(faults, _mm256_subs_epu8(before, limits));
            before = _mm256_setzero_si256();  // ASCII, as the run's last block is
            continue;
        }
        for (std::size_t k = b; k < b + 4; ++k) {
            const __m256i input = _mm256_loadu_si256(block + k);
            faults = _mm256_or_si256(faults, block_faults_avx2(tables, input, before));
            before = input;
        }
    }
    for (; b < blocks; ++b) {
        const __m256i input = _mm256_loadu_si256(block + b);
        faults = _mm256_or_si256(faults, block_faults_avx2(tables, input, before));
        before = input;
    }
    return _mm256_testz_si256(faults, faults) != 0;
}

// AVX-512 (F, BW): the same on 64-byte blocks of four lanes. GCC 12 warns
// about the deliberately undefined source operand inside some of its
// intrinsics (GCC bug 105593).
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

VORN_TARGET_AVX512 inline __m512i broadcast_table_avx512(const unsigned char* table) {
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

template <int Back>
VORN_TARGET_AVX512 inline __m512i bytes_before_avx512(__m512i input, __m512i before) {
    // Lanes (before 3, input 0, input 1, input 2): each lane's predecessor.
    return _mm512_alignr_epi8(input, _mm512_alignr_epi32(input, before, 12), 16 - Back);
}

struct Avx512Tables {
    __m512i first_high, first_low, second_high;
};

VORN_TARGET_AVX512 inline __m512i block_faults_avx512(const Avx512Tables& tables, __m512i input, __m512i before) {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i back1 = bytes_before_avx512<1>(input, before);
    const __m512i first_high =
        _mm512_shuffle_epi8(tables.first_high, _mm512_and_si512(_mm512_srli_epi16(back1, 4), nibble));
    const __m512i first_low = _mm512_shuffle_epi8(tables.first_low, _mm512_and_si512(back1, nibble));
    const __m512i second_high =
        _mm512_shuffle_epi8(tables.second_high, _mm512_and_si512(_mm512_srli_epi16(input, 4), nibble));
    const __m512i pair_faults = _mm512_and_si512(_mm512_and_si512(first_high, first_low), second_high);
    const __m512i third = _mm512_subs_epu8(bytes_before_avx512<2>(input, before), _mm512_set1_epi8(0xE0 - 0x80));
    const __m512i fourth = _mm512_subs_epu8(bytes_before_avx512<3>(input, before), _mm512_set1_epi8(0xF0 - 0x80));
    const __m512i must_continue =
        _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(static_cast<char>(0x80)));
    return _mm512_xor_si512(must_continue, pair_faults);
}

VORN_TARGET_AVX512 bool blocks_valid_avx512(const unsigned char* s, std::size_t blocks) noexcept {
    const Avx512Tables tables{broadcast_table_avx512(kFirstHigh), broadcast_table_avx512(kFirstLow),
                              broadcast_table_avx512(kSecondHigh)};
    __m512i before = _mm512_setzero_si512(), faults = _mm512_setzero_si512();
    for (std::size_t b = 0; b < blocks; ++b) {
        const __m512i input = _mm512_loadu_si512(s + 64 * b);
        faults = _mm512_or_si512(faults, block_faults_avx512(tables, input, before));
        before = input;
    }
    return _mm512_test_epi8_mask(faults, faults) == 0;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

}  // namespace

bool is_valid_utf8(simd::Level level, std::string_view bytes) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t checked = 0;
    switch (simd::clamp_to_processor(level)) {
#ifdef VORN_UTF8_X86
        case simd::Level::avx512:
            if (!blocks_valid_avx512(s, n / 64)) return false;
            checked = n / 64 * 64;
            break;
        case simd::Level::avx2:
            if (!blocks_valid_avx2(s, n / 32)) return false;
            checked = n / 32 * 32;
            break;
#endif
        default: break;
    }
    return finish_portable(s, n, checked);
}

bool is_valid_utf8(std::string_view bytes) noexcept {
    // Short texts, the usual strings checked one by one, fill no block.
    if (bytes.size() < 32) return is_valid_portable(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return is_valid_utf8(simd::active_level(), bytes);
}

}  // namespace vorn::utf8
