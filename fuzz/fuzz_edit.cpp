// Levenshtein, Jaro-Winkler and Hamming against plain reference
// implementations over code points, plus their metric properties.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "algo/hamming.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "fuzz_input.hpp"

namespace {

using vorn::fuzz::in_unit_range;
using vorn::fuzz::same_bits;

// Long enough for patterns of several 64-bit words, short enough for the
// quadratic references to stay fast.
constexpr std::size_t kMaxChars = 300;

std::uint64_t reference_levenshtein(const std::u32string& a, const std::u32string& b) {
    std::vector<std::uint64_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::uint64_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::uint64_t up = row[j];
            row[j] = std::min({up + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

double reference_jaro_winkler(const std::u32string& a, const std::u32string& b) {
    double jaro;
    if (a == b) {
        jaro = 1.0;
    } else if (a.empty() || b.empty()) {
        jaro = 0.0;
    } else {
        const std::size_t half = std::max(a.size(), b.size()) / 2;
        const std::size_t window = half == 0 ? 0 : half - 1;
        std::vector<char> fa(a.size()), fb(b.size());
        std::size_t m = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::size_t lo = i > window ? i - window : 0;
            const std::size_t hi = std::min(b.size(), i + window + 1);
            for (std::size_t j = lo; j < hi; ++j) {
                if (!fb[j] && b[j] == a[i]) {
                    fa[i] = fb[j] = 1;
                    ++m;
                    break;
                }
            }
        }
        if (m == 0) {
            jaro = 0.0;
        } else {
            std::size_t t = 0, k = 0;
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (!fa[i]) continue;
                while (!fb[k]) ++k;
                t += a[i] != b[k];
                ++k;
            }
            const double md = static_cast<double>(m);
            const double tr = static_cast<double>(t / 2);
            jaro = ((md / static_cast<double>(a.size()) + md / static_cast<double>(b.size())) + (md - tr) / md) / 3.0;
        }
    }
    std::size_t prefix = 0;
    while (prefix < 4 && prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    return (1.0 - jaro) * (static_cast<double>(prefix) * 0.1) + jaro;
}

void check_levenshtein(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb) {
    const std::uint64_t d = vorn::algo::levenshtein_distance(a, b);
    FUZZ_CHECK(d == reference_levenshtein(ca, cb));
    FUZZ_CHECK(d == vorn::algo::levenshtein_distance(b, a));
    const std::uint64_t la = ca.size(), lb = cb.size();
    FUZZ_CHECK(d <= std::max(la, lb));
    FUZZ_CHECK(d >= std::max(la, lb) - std::min(la, lb));
    FUZZ_CHECK((d == 0) == (a == b));
    FUZZ_CHECK(vorn::algo::levenshtein_distance(a, a) == 0);

    const double s = vorn::algo::levenshtein_similarity(a, b);
    const std::uint64_t m = std::max(la, lb);
    const double expected = m == 0 ? 1.0 : 1.0 - static_cast<double>(d) / static_cast<double>(m);
    FUZZ_CHECK(same_bits(s, expected));
    FUZZ_CHECK(in_unit_range(s));
    FUZZ_CHECK(same_bits(s, vorn::algo::levenshtein_similarity(b, a)));
    FUZZ_CHECK(vorn::algo::levenshtein_similarity(a, a) == 1.0);
}

void check_jaro_winkler(const std::string& a, const std::string& b, const std::u32string& ca,
                        const std::u32string& cb) {
    const double s = vorn::algo::jaro_winkler_similarity(a, b);
    FUZZ_CHECK(same_bits(s, reference_jaro_winkler(ca, cb)));
    FUZZ_CHECK(in_unit_range(s));
    FUZZ_CHECK(same_bits(s, vorn::algo::jaro_winkler_similarity(b, a)));
    FUZZ_CHECK(vorn::algo::jaro_winkler_similarity(a, a) == 1.0);
}

void check_hamming(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb) {
    const auto d = vorn::algo::hamming_distance(a, b);
    const auto s = vorn::algo::hamming_similarity(a, b);
    FUZZ_CHECK(d.has_value() == (ca.size() == cb.size()));
    FUZZ_CHECK(s.has_value() == d.has_value());
    const auto swapped = vorn::algo::hamming_distance(b, a);
    FUZZ_CHECK(swapped.has_value() == d.has_value());
    if (!d) {
        FUZZ_CHECK(d.error().message == vorn::kUnequalLength.message);
        FUZZ_CHECK(s.error().message == vorn::kUnequalLength.message);
        return;
    }
    FUZZ_CHECK(*swapped == *d);
    std::uint64_t expected = 0;
    for (std::size_t i = 0; i < ca.size(); ++i) expected += ca[i] != cb[i];
    FUZZ_CHECK(*d == expected);
    const double expected_s = ca.empty() ? 1.0 : 1.0 - static_cast<double>(expected) / static_cast<double>(ca.size());
    FUZZ_CHECK(same_bits(*s, expected_s));
    FUZZ_CHECK(in_unit_range(*s));
    FUZZ_CHECK(*vorn::algo::hamming_distance(a, a) == 0);
    FUZZ_CHECK(*vorn::algo::hamming_similarity(a, a) == 1.0);
}

// The cached-pattern scorers give the free functions' values, with the
// pattern on either side, and a bounded distance is exact up to its bound.
void check_cached(const std::string& a, const std::string& b, std::uint64_t max_distance) {
    const std::uint64_t d = vorn::algo::levenshtein_distance(a, b);
    const vorn::algo::CachedLevenshtein lev_a(a), lev_b(b);
    FUZZ_CHECK(lev_a.distance(b) == d);
    FUZZ_CHECK(lev_b.distance(a) == d);
    FUZZ_CHECK(lev_a.distance(b, max_distance) == std::min(d, max_distance + 1));
    FUZZ_CHECK(same_bits(lev_a.similarity(b), vorn::algo::levenshtein_similarity(a, b)));
    const double jw = vorn::algo::jaro_winkler_similarity(a, b);
    FUZZ_CHECK(same_bits(vorn::algo::CachedJaroWinkler(a).similarity(b), jw));
    FUZZ_CHECK(same_bits(vorn::algo::CachedJaroWinkler(b).similarity(a), jw));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    auto [ca, cb] = input.pair_points(kMaxChars);
    // An equal-length variant of b keeps Hamming from failing on almost every pair.
    if (input.flag()) cb.resize(ca.size(), U'x');
    const std::string a = vorn::fuzz::encode(ca);
    const std::string b = vorn::fuzz::encode(cb);
    check_levenshtein(a, b, ca, cb);
    check_jaro_winkler(a, b, ca, cb);
    check_hamming(a, b, ca, cb);
    check_cached(a, b, input.byte());
    return 0;
}
