// MinHash signatures and SimHash fingerprints against plain references
// built from the shingle rule, the hash and the permutation parameters.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "algo/minhash.hpp"
#include "algo/minhash_kernels.hpp"
#include "algo/shingles.hpp"
#include "algo/simhash.hpp"
#include "fuzz_input.hpp"
#include "simd/isa.hpp"

namespace {

using vorn::fuzz::in_unit_range;
using vorn::fuzz::same_bits;

constexpr std::size_t kMaxChars = 400;
constexpr std::uint64_t kMersenne61 = 0x1FFFFFFFFFFFFFFFULL;

std::uint64_t fnv(const std::string& bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

// Every shingle occurrence, in text order.
std::vector<std::string> shingles(const std::u32string& cps, std::uint64_t k) {
    if (cps.size() < k) return {vorn::fuzz::encode(cps)};
    std::vector<std::string> out;
    for (std::size_t p = 0; p + k <= cps.size(); ++p) out.push_back(vorn::fuzz::encode(cps.substr(p, k)));
    return out;
}

// The permutations written out with their parameters.
std::vector<std::uint64_t> reference_minima(const std::vector<std::uint64_t>& hashes, std::uint64_t m) {
    std::vector<std::uint64_t> sig(m, std::numeric_limits<std::uint64_t>::max());
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint64_t b = (i + 1) * 0x9E3779B97F4A7C15ULL + 0x1234;
        const std::uint64_t a = (b + 0x9999) | 1;
        for (std::uint64_t h : hashes) {
            const std::uint64_t v = (a * h + b) % kMersenne61;
            if (v < sig[i]) sig[i] = v;
        }
    }
    return sig;
}

std::vector<std::uint64_t> reference_signature(const std::u32string& cps, std::uint64_t k, std::uint64_t m) {
    const auto all = shingles(cps, k);
    const std::set<std::string> distinct(all.begin(), all.end());
    std::vector<std::uint64_t> hashes;
    for (const std::string& s : distinct) hashes.push_back(fnv(s));
    return reference_minima(hashes, m);
}

// A hash whose permutation `lane` gives `value` before the reduction.
std::uint64_t hash_giving(std::uint64_t lane, std::uint64_t value) {
    const std::uint64_t b = (lane + 1) * 0x9E3779B97F4A7C15ULL + 0x1234;
    const std::uint64_t a = (b + 0x9999) | 1;
    std::uint64_t inverse = a;  // Newton's iteration for a^-1 mod 2^64 (a is odd)
    for (int round = 0; round < 6; ++round) inverse *= 2 - a * inverse;
    return inverse * (value - b);
}

// Values whose low 61 bits are within a few units of M, where the reduction
// wraps: q * 2^61 + (M - j).
std::uint64_t hash_near_modulus(std::uint64_t lane, std::uint64_t q, std::uint64_t j) {
    return hash_giving(lane, (q << 61) + (kMersenne61 - j));
}

// Every kernel this processor runs, on hashes taken straight from the input
// (extremes and values at the wrap of the reduction included), against the
// written-out permutations; and the same values hashed as byte windows.
void check_kernels(vorn::fuzz::FuzzInput& input, std::uint64_t m) {
    using namespace vorn::algo::minhash;
    std::vector<std::uint64_t> hashes(input.byte() % 24);
    const std::uint64_t small_lane = m > 0 ? input.byte() % m : 0;
    for (std::uint64_t& h : hashes) {
        const std::uint8_t kind = input.byte();
        if (kind < 16) h = kind;
        else if (kind < 32) h = std::numeric_limits<std::uint64_t>::max() - (kind - 16);
        else if (kind < 96 && m > 0) h = hash_near_modulus(input.u16() % m, kind % 8, input.byte() % 12);
        // Values below 2^52, which the kernels compare as subnormal doubles,
        // all in one permutation, so that they meet.
        else if (kind < 128 && m > 0) h = hash_giving(small_lane, input.u64() >> (12 + kind % 16));
        else h = input.u64();
    }
    const auto expected = reference_minima(hashes, m);
    // The same values as windows of 1 to 8 bytes, byte j in bits 8j on.
    const unsigned width = 1 + input.byte() % 8;
    std::vector<std::uint64_t> hashed_windows;
    for (std::uint64_t h : hashes) {
        std::string bytes;
        for (unsigned j = 0; j < width; ++j) bytes.push_back(static_cast<char>(h >> (8 * j)));
        hashed_windows.push_back(fnv(bytes));
    }
    for (const vorn::simd::Level level : vorn::simd::supported_levels()) {
        std::vector<std::uint64_t> sig(m, std::numeric_limits<std::uint64_t>::max());
        lower(level, hashes, sig);
        FUZZ_CHECK(sig == expected);
        std::vector<std::uint64_t> windows = hashes;
        for (std::uint64_t& window : windows)
            if (width < 8) window &= (std::uint64_t{1} << (8 * width)) - 1;
        hash_windows(level, windows, width);
        FUZZ_CHECK(windows == hashed_windows);
    }
}

std::uint64_t reference_fingerprint(const std::u32string& cps, std::uint64_t k) {
    std::int64_t votes[64] = {};
    for (const std::string& s : shingles(cps, k)) {
        const std::uint64_t h = fnv(s);
        for (int i = 0; i < 64; ++i) votes[i] += (h >> i) & 1 ? 1 : -1;
    }
    std::uint64_t fp = 0;
    for (int i = 0; i < 64; ++i) fp |= static_cast<std::uint64_t>(votes[i] > 0) << i;
    return fp;
}

std::uint64_t shingle_size(vorn::fuzz::FuzzInput& input) {
    const std::uint8_t kind = input.byte();
    if (kind < 200) return kind % 9;
    if (kind < 240) return input.u16();
    return std::numeric_limits<std::uint64_t>::max() - input.byte();
}

void check_minhash(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb,
                   std::uint64_t k, std::uint64_t m, std::uint64_t m_short) {
    const auto sa = vorn::algo::minhash_signature(a, k, m);
    const auto sb = vorn::algo::minhash_signature(b, k, m);
    const auto similarity = vorn::algo::minhash_similarity(a, b, k, m);
    static vorn::algo::MinHashScratch scratch;  // kept from one input to the next
    std::vector<std::uint64_t> into(m, 7);
    const auto distinct = vorn::algo::minhash_signature_into(b, k, into, scratch);
    if (k == 0) {
        FUZZ_CHECK(!sa.has_value() && !sb.has_value() && !similarity.has_value());
        FUZZ_CHECK(sa.error().message == vorn::kZeroWindow.message);
        FUZZ_CHECK(similarity.error().message == vorn::kZeroWindow.message);
        FUZZ_CHECK(!distinct.has_value() && std::count(into.begin(), into.end(), 7) == static_cast<long>(m));
        return;
    }
    FUZZ_CHECK(sa.has_value() && sb.has_value() && similarity.has_value());
    FUZZ_CHECK(*sa == reference_signature(ca, k, m));
    FUZZ_CHECK(*sb == reference_signature(cb, k, m));
    FUZZ_CHECK(distinct.has_value() && *distinct >= 1 && into == *sb);
    for (std::uint64_t v : *sa) FUZZ_CHECK(v < kMersenne61);

    std::uint64_t equal = 0;
    for (std::uint64_t i = 0; i < m; ++i) equal += (*sa)[i] == (*sb)[i];
    const double expected = static_cast<double>(equal) / static_cast<double>(m);
    FUZZ_CHECK(same_bits(*similarity, expected));
    FUZZ_CHECK(same_bits(vorn::algo::minhash_signature_similarity(*sa, *sb), expected));
    FUZZ_CHECK(same_bits(*vorn::algo::minhash_similarity(b, a, k, m), expected));
    if (m == 0) {
        FUZZ_CHECK(std::isnan(*similarity));
        return;
    }
    FUZZ_CHECK(in_unit_range(*similarity));
    FUZZ_CHECK(*vorn::algo::minhash_similarity(a, a, k, m) == 1.0);

    // A shorter signature is a prefix of a longer one, and the similarity
    // of two lengths compares only the common prefix.
    const auto shorter = vorn::algo::minhash_signature(b, k, m_short);
    FUZZ_CHECK(shorter->size() == m_short);
    FUZZ_CHECK(std::equal(shorter->begin(), shorter->end(), sb->begin()));
    std::uint64_t equal_prefix = 0;
    for (std::uint64_t i = 0; i < m_short; ++i) equal_prefix += (*sa)[i] == (*shorter)[i];
    FUZZ_CHECK(same_bits(vorn::algo::minhash_signature_similarity(*sa, *shorter),
                         static_cast<double>(equal_prefix) / static_cast<double>(m_short)));
}

void check_simhash(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb,
                   std::uint64_t k) {
    const auto fa = vorn::algo::simhash_fingerprint(a, k);
    const auto fb = vorn::algo::simhash_fingerprint(b, k);
    const auto similarity = vorn::algo::simhash_similarity(a, b, k);
    if (k == 0) {
        FUZZ_CHECK(!fa.has_value() && !similarity.has_value());
        FUZZ_CHECK(fa.error().message == vorn::kZeroWindow.message);
        FUZZ_CHECK(similarity.error().message == vorn::kZeroWindow.message);
        return;
    }
    FUZZ_CHECK(fa.has_value() && fb.has_value() && similarity.has_value());
    FUZZ_CHECK(*fa == reference_fingerprint(ca, k));
    FUZZ_CHECK(*fb == reference_fingerprint(cb, k));
    const double expected = 1.0 + static_cast<double>(std::popcount(*fa ^ *fb)) * -0.015625;
    FUZZ_CHECK(same_bits(*similarity, expected));
    FUZZ_CHECK(same_bits(vorn::algo::simhash_fingerprint_similarity(*fa, *fb), expected));
    FUZZ_CHECK(same_bits(*vorn::algo::simhash_similarity(b, a, k), expected));
    FUZZ_CHECK(in_unit_range(*similarity));
    FUZZ_CHECK(*vorn::algo::simhash_similarity(a, a, k) == 1.0);
}

// The distinct shingle hashes of any bytes, malformed UTF-8 included, are
// those of char_shingles' windows, whichever way the scratch deduplicates
// them; mostly ASCII bytes with a share of others reach the path that takes
// the ASCII shingles apart.
void check_distinct_shingles(vorn::fuzz::FuzzInput& input) {
    static vorn::algo::MinHashScratch scratch;
    const std::uint64_t k = 1 + input.byte() % 5;
    std::string bytes(input.take(input.byte() + (input.flag() ? 200 : 0)));
    const std::uint8_t ascii_share = input.byte();
    for (char& c : bytes)
        if (input.byte() < ascii_share) c = static_cast<char>(c & 0x7F);
    std::set<std::uint64_t> expected;
    (void)vorn::algo::char_shingles(bytes, k,
                                    [&](std::string_view shingle) { expected.insert(fnv(std::string(shingle))); });
    const auto hashes = scratch.distinct_shingle_hashes(bytes, k);
    FUZZ_CHECK(hashes.has_value());
    FUZZ_CHECK(std::set<std::uint64_t>(hashes->begin(), hashes->end()) == expected);
    FUZZ_CHECK(hashes->size() == expected.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    const std::uint64_t k = shingle_size(input);
    const std::uint64_t m = input.byte() + (input.flag() ? 45 : 0);  // 0 ..= 300
    const std::uint64_t m_short = m == 0 ? 0 : 1 + input.byte() % m;
    auto [ca, cb] = input.pair_points(kMaxChars);
    const std::string a = vorn::fuzz::encode(ca);
    const std::string b = vorn::fuzz::encode(cb);
    check_minhash(a, b, ca, cb, k, m, m_short);
    check_simhash(a, b, ca, cb, k);
    check_kernels(input, m);
    check_distinct_shingles(input);
    return 0;
}
