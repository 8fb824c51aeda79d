// The hashing the library shares: 64-bit FNV-1a, the golden-ratio constant,
// a hash of byte spans for placing them in tables, and the one way a hash
// picks a table slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorn::support {

// 2^64 divided by the golden ratio, rounded to odd.
inline constexpr std::uint64_t kGoldenRatio64 = 0x9E3779B97F4A7C15ULL;

inline constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// 64-bit FNV-1a over the bytes: h = (h ^ byte) * prime, wrapping. Its
// values reach Python through MinHash and SimHash, so it is part of the
// public contract. Unrolled, since shingles are a few bytes long.
inline constexpr std::uint64_t fnv1a(std::string_view bytes) noexcept {
    std::uint64_t h = kFnvOffsetBasis;
    const auto step = [&h](char c) { h = (h ^ static_cast<unsigned char>(c)) * kFnvPrime; };
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 4; p += 4, n -= 4) {
        step(p[0]);
        step(p[1]);
        step(p[2]);
        step(p[3]);
    }
    switch (n) {
        case 3: step(p[n - 3]); [[fallthrough]];
        case 2: step(p[n - 2]); [[fallthrough]];
        case 1: step(p[n - 1]); break;
        default: break;
    }
    return h;
}

// fnv1a of the `width` bytes (1 to 8) packed into `window`, byte j in bits
// 8j to 8j + 7: the same value as fnv1a on the bytes themselves.
inline constexpr std::uint64_t fnv1a_packed(std::uint64_t window, unsigned width) noexcept {
    std::uint64_t h = kFnvOffsetBasis;
    for (unsigned shift = 0; shift != 8 * width; shift += 8) h = (h ^ ((window >> shift) & 0xFF)) * kFnvPrime;
    return h;
}

// Slot of a hash in a table of 2^bits slots, 1 <= bits <= 64: the top bits
// of the hash times the golden ratio (Fibonacci hashing), so keys that
// differ only in their low bits or only in their high bits spread alike.
inline constexpr std::size_t slot_index(std::uint64_t hash, unsigned bits) noexcept {
    return static_cast<std::size_t>((hash * kGoldenRatio64) >> (64 - bits));
}

namespace detail {

inline std::uint64_t load64(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

inline std::uint64_t load32(const char* p) noexcept {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

// A bijection of 64-bit values.
inline std::uint64_t mix(std::uint64_t x) noexcept {
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    return x;
}

}  // namespace detail

// Hash of a byte span for table placement only (no value of it reaches
// Python). Reads whole words inside the span, overlapping at its end, since
// words and n-grams are mostly a few bytes long. Up to 8 bytes it is a
// bijection of the bytes for a given size, so equal hashes and sizes mean
// equal spans there; the empty span hashes to 0.
inline std::uint64_t hash_bytes(const char* p, std::size_t n) noexcept {
    std::uint64_t h = static_cast<std::uint64_t>(n) * kGoldenRatio64;
    std::uint64_t tail;
    if (n >= 8) {
        std::size_t rest = n;
        for (; rest > 8; p += 8, rest -= 8) {
            h = (h ^ detail::load64(p)) * 0xBF58476D1CE4E5B9ULL;
            h ^= h >> 31;
        }
        tail = detail::load64(p + rest - 8);  // the last 8 bytes, overlapping the last word
    } else if (n >= 4) {
        tail = (detail::load32(p) << 32) | detail::load32(p + n - 4);
    } else if (n > 0) {
        const auto byte = [p](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])); };
        tail = (byte(0) << 16) | (byte(n / 2) << 8) | byte(n - 1);
    } else {
        tail = 0;
    }
    return detail::mix(h ^ tail);
}

}  // namespace vorn::support
