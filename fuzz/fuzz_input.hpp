// Carves a fuzzer's byte string into parameters and valid UTF-8 texts.
//
// Parameters come from the front of the input, texts after them. The
// Python layer only ever hands the library valid UTF-8, so raw bytes are
// repaired (every invalid sequence becomes U+FFFD) and the other text modes
// map each byte to a character of a small alphabet, which makes equal
// characters, non-ASCII runs and whitespace common enough to matter.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf8.hpp"

namespace vorn::fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : ::vorn::fuzz::fail(__FILE__, __LINE__, #condition))

inline bool in_unit_range(double x) { return x >= 0.0 && x <= 1.0; }

// Bitwise equality, so that NaN == NaN and -0.0 != +0.0.
inline bool same_bits(double x, double y) {
    return std::signbit(x) == std::signbit(y) && (x == y || (std::isnan(x) && std::isnan(y)));
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
// Returns the sequence length at pos, or 0 when no valid sequence starts there.
inline std::size_t valid_sequence_at(std::string_view s, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t len;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (pos + len > s.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if (!utf8::is_continuation(byte(i))) return 0;
    }
    return len;
}

inline bool is_valid_utf8(std::string_view s) {
    for (std::size_t pos = 0; pos < s.size();) {
        const std::size_t len = valid_sequence_at(s, pos);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

// Code points of valid UTF-8.
inline std::u32string code_points(std::string_view s) {
    std::u32string out;
    for (std::size_t pos = 0; pos < s.size();) out.push_back(utf8::decode(s, pos));
    return out;
}

inline std::string encode(std::u32string_view cps) {
    std::string out;
    for (char32_t cp : cps) utf8::append(out, cp);
    return out;
}

// Letters of several scripts and cases, whitespace of every width, combining
// marks and composable pairs, the final-sigma and dotted-I cases, emoji with
// a joiner, look-alikes that are not whitespace, ASCII punctuation.
inline constexpr char32_t kMixedAlphabet[48] = {
    U'a',   U'b',   U'c',    U'd',    U'e',   U'A',   U'B',   U'E',   U's',   U'1',   U' ',   U' ',
    U'\t',  U'\n',  0x00A0,  0x3000,  0x2003, 0x0085, 0x2028, 0x1680, 0x00E9, 0x00C9, 0x0301, 0x0327,
    0x212B, 0x00C5, 0x03A3,  0x03C3,  0x03B1, 0x0130, 0x00DF, 0x1E9E, 0x4E2D, 0x6587, 0xAC00, 0x1100,
    0x1161, 0x11A8, 0x1F600, 0x1F468, 0x200D, 0x200B, 0x001F, 0xFB01, U'.',   U',',   U'\'',  U'-',
};

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - pos_; }

    // 0 once the input is used up, so every carving stays defined.
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool flag() { return byte() & 1; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint64_t u64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return v;
    }
    double unit_or_odd_double() {
        // Mostly bounds in and around [0, 1]; sometimes any bit pattern (NaN, inf).
        const std::uint8_t kind = byte();
        if (kind < 200) return (static_cast<double>(u16()) / 65535.0) * 1.5 - 0.25;
        if (kind < 230) return static_cast<double>(byte() % 5) * 0.25;
        std::uint64_t bits = u64();
        double value;
        static_assert(sizeof value == sizeof bits);
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Raw bytes, at most n.
    std::string_view take(std::size_t n) {
        if (n > remaining()) n = remaining();
        std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

    // One text: a mode byte, a source length byte, the source bytes, and
    // with the repeat bit a target length to which the characters are
    // cycled (so short inputs reach the long-text code paths).
    std::u32string text_points(std::size_t max_chars) {
        const std::uint8_t mode = byte();
        const std::string_view source = take(byte());
        std::u32string cps;
        switch (mode & 7) {
            case 0:
            case 1:
                for (unsigned char b : source) cps.push_back(kMixedAlphabet[b % 48]);
                break;
            case 2:  // many distinct three-byte characters
                for (unsigned char b : source) cps.push_back(0x4E00 + b);
                break;
            case 3:  // four-byte characters
                for (unsigned char b : source) cps.push_back(0x1F300 + b);
                break;
            case 4:  // Latin-1 and Latin Extended-A, both cases
                for (unsigned char b : source) cps.push_back(0x00A0 + b);
                break;
            case 5:  // ASCII, control characters included
                for (unsigned char b : source) cps.push_back(b & 0x7F);
                break;
            case 6:  // mostly ASCII, one character in sixteen from the mixed alphabet
                for (unsigned char b : source) cps.push_back(b < 16 ? kMixedAlphabet[b % 48] : U'a' + b % 26);
                break;
            default:  // repaired UTF-8
                for (std::size_t pos = 0; pos < source.size();) {
                    const std::size_t len = valid_sequence_at(source, pos);
                    if (len == 0) {
                        cps.push_back(0xFFFD);
                        ++pos;
                    } else {
                        std::size_t at = 0;  // decodes this sequence only, not stray bytes after it
                        cps.push_back(utf8::decode(source.substr(pos, len), at));
                        pos += len;
                    }
                }
                break;
        }
        if (cps.size() > max_chars) cps.resize(max_chars);
        if ((mode & 8) && !cps.empty()) {
            std::size_t target = static_cast<std::size_t>(byte()) * 4 + byte() % 4;
            if (target > max_chars) target = max_chars;
            const std::size_t period = cps.size();
            for (std::size_t i = period; i < target; ++i) cps.push_back(cps[i % period]);
        }
        return cps;
    }

    std::string text(std::size_t max_chars) { return encode(text_points(max_chars)); }

    // A copy of cps with a few edits (insertions, deletions, substitutions
    // of alphabet characters), so that the two texts of a pair are related.
    std::u32string edited(std::u32string cps, std::size_t max_chars) {
        const int edits = byte() % 9;
        for (int e = 0; e < edits; ++e) {
            const std::uint8_t op = byte();
            const std::size_t at = cps.empty() ? 0 : u16() % (cps.size() + 1);
            const char32_t cp = kMixedAlphabet[byte() % 48];
            switch (op % 3) {
                case 0:
                    if (cps.size() < max_chars) cps.insert(cps.begin() + static_cast<std::ptrdiff_t>(at), cp);
                    break;
                case 1:
                    if (at < cps.size()) cps.erase(cps.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                default:
                    if (at < cps.size()) cps[at] = cp;
                    break;
            }
        }
        return cps;
    }

    // A pair of texts: independent, or the second an edited copy of the first.
    std::pair<std::u32string, std::u32string> pair_points(std::size_t max_chars) {
        const bool related = flag();
        std::u32string a = text_points(max_chars);
        std::u32string b = related ? edited(a, max_chars) : text_points(max_chars);
        return {std::move(a), std::move(b)};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The 25 White_Space code points, listed here apart from the library's
// own table so that the targets check it rather than reuse it.
inline bool is_white_space(char32_t cp) {
    switch (cp) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000: return true;
        default: return cp >= 0x2000 && cp <= 0x200A;
    }
}

// The maximal runs of code points that are not separators, in order.
template <class IsSeparator>
std::vector<std::u32string> split(const std::u32string& cps, IsSeparator is_separator) {
    std::vector<std::u32string> out;
    std::u32string piece;
    for (char32_t cp : cps) {
        if (is_separator(cp)) {
            if (!piece.empty()) out.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(cp);
        }
    }
    if (!piece.empty()) out.push_back(piece);
    return out;
}

}  // namespace vorn::fuzz
