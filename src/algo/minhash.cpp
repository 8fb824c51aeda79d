// MinHash: permutation i maps a shingle hash h to
// ((a_i * h + b_i) mod 2^64) mod (2^61 - 1); the loop over permutations is
// in minhash_kernels.cpp.
//
// Distinct shingles are deduplicated by their FNV-1a value: two shingles
// with the same hash contribute the same value to every minimum, so this
// is the same as deduplicating the shingles themselves, and the order of
// the values does not matter. The set is sized from the text's length, so
// filling it never rehashes.
//
// Shingles of ASCII text are its windows of k bytes. Up to 8 bytes a window
// fits a uint64 read straight from the text, so the set deduplicates the
// packed windows themselves (distinct windows are distinct shingles), and
// FNV-1a runs once per distinct window, afterwards, as a loop of
// independent multiplies (minhash::hash_windows) rather than on the way
// into the set. Windows of up to 3 ASCII characters, 7 bits each, index a
// bitmap directly instead; in mostly ASCII text the bitmap takes the ASCII
// windows and only the windows around other characters are walked and
// hashed one by one.
#include "algo/minhash.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

#include "algo/minhash_kernels.hpp"
#include "algo/shingles.hpp"
#include "simd/isa.hpp"
#include "support/hash.hpp"
#include "support/memory.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

// The 8 bytes at p as a word whose byte j is p[j].
inline std::uint64_t load_bytes(const unsigned char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// The distinct windows of Width bytes (Width at most text.size()), hashed,
// into `out`; returns how many. Window i is read whole from the text rather
// than shifted in from window i - 1, so windows do not wait on each other;
// the last few, whose 8-byte read would pass the end, come from a copy.
template <unsigned Width, class Set>
std::size_t distinct_packed_windows(std::string_view text, Set& seen, std::uint64_t* out) {
    static_assert(Width >= 1 && Width <= 8);
    constexpr std::uint64_t kMask = Width == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * Width)) - 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t windows = text.size() - Width + 1;
    const std::size_t direct = std::min(windows, text.size() >= 8 ? text.size() - 7 : 0);
    unsigned char tail[16] = {};
    std::memcpy(tail, bytes + direct, text.size() - direct);
    std::size_t count = 0;
    seen.fill([&](auto&& insert) {
        const auto add = [&](std::uint64_t window) {
            out[count] = window;  // kept when new, overwritten otherwise
            count += insert(static_cast<std::conditional_t<(Width <= 4), std::uint32_t, std::uint64_t>>(window));
        };
        for (std::size_t i = 0; i < direct; ++i) add(load_bytes(bytes + i) & kMask);
        for (std::size_t i = direct; i < windows; ++i) add(load_bytes(tail + (i - direct)) & kMask);
    });
    minhash::hash_windows(simd::active_level(), std::span<std::uint64_t>(out, count), Width);
    return count;
}

// Windows of up to 4 bytes go into a set of 32-bit keys, which in the same
// memory has twice the slots, so that fewer keys probe past their first.
template <class NarrowSet, class WideSet>
std::size_t distinct_packed_windows(std::string_view text, unsigned width, NarrowSet& narrow, WideSet& wide,
                                    std::uint64_t* out) {
    const std::size_t most = text.size() + 1;
    if (width <= 4) narrow.reset(4 * most);
    else wide.reset(2 * most);
    switch (width) {
        case 1: return distinct_packed_windows<1>(text, narrow, out);
        case 2: return distinct_packed_windows<2>(text, narrow, out);
        case 3: return distinct_packed_windows<3>(text, narrow, out);
        case 4: return distinct_packed_windows<4>(text, narrow, out);
        case 5: return distinct_packed_windows<5>(text, wide, out);
        case 6: return distinct_packed_windows<6>(text, wide, out);
        case 7: return distinct_packed_windows<7>(text, wide, out);
        default: return distinct_packed_windows<8>(text, wide, out);
    }
}

// Set on the code of a window that is not an ASCII shingle.
constexpr std::uint32_t kNotAsciiShingle = std::uint32_t{1} << 21;

// Window i of Width bytes as the code sum of text[i + j] << 7j, below 2^21
// for ASCII windows of up to 3 bytes. With Mixed, the code of a window
// that is not an ASCII shingle has kNotAsciiShingle set: one with a byte
// of 0x80 or more, or one followed by a continuation byte, which its last
// character owns (malformed text only). Plain loops, so that they
// vectorise.
template <unsigned Width, bool Mixed>
void short_window_codes(std::string_view text, std::uint32_t* codes) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t windows = text.size() - Width + 1;
    const auto code_of = [bytes](std::size_t i, unsigned char next) {
        std::uint32_t code = 0, high = 0;
        for (unsigned j = 0; j < Width; ++j) {
            code |= std::uint32_t{bytes[i + j]} << (7 * j);
            high |= bytes[i + j];
        }
        if constexpr (Mixed) {
            high |= (next & 0xC0) == 0x80 ? 0x80 : 0;
            code |= (high & 0x80) != 0 ? kNotAsciiShingle : 0;
        }
        return code;
    };
    if constexpr (Mixed) {
        for (std::size_t i = 0; i + 1 < windows; ++i) codes[i] = code_of(i, bytes[i + Width]);
        codes[windows - 1] = code_of(windows - 1, 0);
    } else {
        for (std::size_t i = 0; i < windows; ++i) codes[i] = code_of(i, 0);
    }
}

// The distinct ASCII windows of Width (1 to 3) bytes, hashed, into `out`;
// returns how many. `seen` is the bitmap of 2^21 bits, all clear, and is
// left so.
template <unsigned Width, bool Mixed>
std::size_t distinct_short_ascii_windows(std::string_view text, std::uint64_t* seen, std::uint32_t* codes,
                                         std::uint64_t* out) {
    static_assert(Width >= 1 && Width <= 3);
    short_window_codes<Width, Mixed>(text, codes);
    const std::size_t windows = text.size() - Width + 1;
    std::size_t count = 0;
    for (std::size_t i = 0; i < windows; ++i) {
        const std::uint32_t code = codes[i];
        if constexpr (Mixed)
            if (code & kNotAsciiShingle) continue;
        const std::uint64_t bit = std::uint64_t{1} << (code & 63);
        const std::uint64_t word = seen[code >> 6];
        seen[code >> 6] = word | bit;
        out[count] = code;  // kept when new, overwritten otherwise
        count += (word & bit) == 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto code = static_cast<std::uint32_t>(out[i]);
        seen[code >> 6] = 0;
        // Back to the bytes, packed as fnv1a_packed reads them.
        out[i] = (code & 0x7F) | ((code & 0x3F80) << 1) | ((code & 0x1FC000) << 2);
    }
    minhash::hash_windows(simd::active_level(), std::span<std::uint64_t>(out, count), Width);
    return count;
}

// Calls emit(shingle) for every window of k characters, delimited as
// char_shingles delimits them, that holds a byte of 0x80 or more; the text
// has at least k characters. Only the stretches around such bytes are
// walked, so a mostly ASCII text costs little here.
template <class Emit>
void shingles_with_high_bytes(std::string_view text, std::size_t k, Emit&& emit) {
    const std::size_t size = text.size();
    std::size_t resume = 0;  // windows starting before it are done
    for (std::size_t high = utf8::find_high_byte(text, 0); high < size;) {
        const std::size_t owner = utf8::floor_boundary(text, high);  // the character holding it
        // Windows holding that character start up to k - 1 characters before it.
        std::size_t start = owner;
        for (std::size_t back = 1; back < k && start > resume; ++back) start = utf8::floor_boundary(text, start - 1);
        for (; start <= owner; start = utf8::next_char(text, start)) {
            std::size_t end = start, chars = 0;
            for (; chars < k && end < size; ++chars) end = utf8::next_char(text, end);
            if (chars < k) return;  // too few characters left for any later window
            emit(text.substr(start, end - start));
        }
        resume = start;
        high = utf8::find_high_byte(text, resume);
    }
}

}  // namespace

Expected<std::span<const std::uint64_t>, InvalidArgument> MinHashScratch::distinct_shingle_hashes(
    std::string_view text, std::uint64_t shingle_size) {
    if (shingle_size == 0) return kZeroWindow;
    // A text of n bytes has at most n shingles, and one when it is empty.
    // The set gets room for twice as many (the 32-bit one for four times),
    // so that nearly every shingle finds its slot, free or its own, at the
    // first probe.
    const std::size_t most = text.size() + 1;
    if (distinct_.size() < most) {
        distinct_.clear();
        distinct_.resize(most);
    }
    std::uint64_t* const out = distinct_.data();
    const bool ascii = utf8::is_ascii(text);
    // Short shingles of mostly ASCII text (at most one character in eight
    // beyond it): the ASCII ones through the bitmap, the others hashed and
    // deduplicated apart; the two kinds never share a shingle.
    constexpr std::size_t kBitmapRepaidAfter = 8192;  // bytes; making it costs about as much as 4 KiB of text saves
    bool bitmap = shingle_size <= 3 && shingle_size <= text.size();
    if (bitmap && seen_short_ascii_.empty()) bitmap = (short_shingle_bytes_ += text.size()) >= kBitmapRepaidAfter;
    const std::size_t non_ascii = bitmap && !ascii ? utf8::count_non_ascii(text) : 0;
    if (bitmap && (ascii || (8 * non_ascii <= text.size() && utf8::count_chars(text) >= shingle_size))) {
        constexpr std::size_t kBitmapWords = (std::size_t{1} << 21) / 64;
        if (seen_short_ascii_.empty()) seen_short_ascii_.resize(kBitmapWords);
        if (window_codes_.size() < text.size()) {
            window_codes_.clear();
            window_codes_.resize(text.size());
        }
        std::uint64_t* const seen = seen_short_ascii_.data();
        std::uint32_t* const codes = window_codes_.data();
        const auto distinct_ascii = [&]<bool Mixed>() {
            switch (shingle_size) {
                case 1: return distinct_short_ascii_windows<1, Mixed>(text, seen, codes, out);
                case 2: return distinct_short_ascii_windows<2, Mixed>(text, seen, codes, out);
                default: return distinct_short_ascii_windows<3, Mixed>(text, seen, codes, out);
            }
        };
        if (ascii) return std::span<const std::uint64_t>(out, distinct_ascii.template operator()<false>());
        std::size_t count = distinct_ascii.template operator()<true>();
        seen_.reset(2 * shingle_size * non_ascii + 2);
        seen_.fill([&](auto&& insert) {
            shingles_with_high_bytes(text, static_cast<std::size_t>(shingle_size), [&](std::string_view shingle) {
                const std::uint64_t h = support::fnv1a(shingle);
                out[count] = h;  // kept when new, overwritten otherwise
                count += insert(h);
            });
        });
        return std::span<const std::uint64_t>(out, count);
    }
    if (shingle_size <= 8 && shingle_size <= text.size() && ascii) {
        const std::size_t count =
            distinct_packed_windows(text, static_cast<unsigned>(shingle_size), seen_narrow_, seen_, out);
        return std::span<const std::uint64_t>(out, count);
    }
    seen_.reset(2 * most);
    std::size_t count = 0;
    Expected<std::uint64_t, InvalidArgument> shingles = std::uint64_t{0};
    seen_.fill([&](auto&& insert) {
        shingles = char_shingles(text, shingle_size, [&](std::string_view shingle) {
            const std::uint64_t h = support::fnv1a(shingle);
            out[count] = h;  // kept when new, overwritten otherwise
            count += insert(h);
        });
    });
    if (!shingles) return shingles.error();
    return std::span<const std::uint64_t>(out, count);
}

namespace {

// Lowers `out`, filled with all ones, by the text's shingles.
Expected<std::size_t, InvalidArgument> lower_signature(std::string_view text, std::uint64_t shingle_size,
                                                       std::span<std::uint64_t> out, MinHashScratch& scratch) {
    auto hashes = scratch.distinct_shingle_hashes(text, shingle_size);
    if (!hashes) return hashes.error();
    minhash::lower(simd::active_level(), *hashes, out);
    return hashes->size();
}

}  // namespace

Expected<std::size_t, InvalidArgument> minhash_signature_into(std::string_view text, std::uint64_t shingle_size,
                                                              std::span<std::uint64_t> out, MinHashScratch& scratch) {
    if (shingle_size == 0) return kZeroWindow;
    std::fill(out.begin(), out.end(), std::numeric_limits<std::uint64_t>::max());
    return lower_signature(text, shingle_size, out, scratch);
}

Expected<std::vector<std::uint64_t>, InvalidArgument> minhash_signature(std::string_view text,
                                                                        std::uint64_t shingle_size,
                                                                        std::uint64_t num_hashes) {
    if (shingle_size == 0) return kZeroWindow;
    // Checked before anything is allocated: with overcommit, a signature
    // larger than memory would be granted and then fault the process to
    // death while it is filled.
    if (num_hashes > std::numeric_limits<std::uint64_t>::max() / sizeof(std::uint64_t) ||
        !support::fits_in_memory(num_hashes * sizeof(std::uint64_t)))
        throw std::bad_alloc();
    std::vector<std::uint64_t> sig(static_cast<std::size_t>(num_hashes), std::numeric_limits<std::uint64_t>::max());
    // Texts up to 8 KiB share their thread's scratch, kept from call to
    // call (about a megabyte at most), so that signing one costs no
    // allocation; longer ones, whose signing outweighs it, get their own.
    constexpr std::size_t kSharedScratchText = 8192;
    thread_local MinHashScratch shared;
    std::optional<MinHashScratch> own;
    MinHashScratch& scratch = text.size() <= kSharedScratchText ? shared : own.emplace();
    auto lowered = lower_signature(text, shingle_size, sig, scratch);
    if (!lowered) return lowered.error();
    return sig;
}

double minhash_signature_similarity(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept {
    const std::size_t len = std::min(a.size(), b.size());
    std::size_t matches = 0;
    for (std::size_t i = 0; i < len; ++i) matches += a[i] == b[i];
    return static_cast<double>(matches) / static_cast<double>(len);
}

Expected<double, InvalidArgument> minhash_similarity(std::string_view a, std::string_view b, std::uint64_t shingle_size,
                                                     std::uint64_t num_hashes) {
    auto sig_a = minhash_signature(a, shingle_size, num_hashes);
    if (!sig_a) return sig_a.error();
    auto sig_b = minhash_signature(b, shingle_size, num_hashes);
    if (!sig_b) return sig_b.error();
    return minhash_signature_similarity(*sig_a, *sig_b);
}

}  // namespace vorn::algo
