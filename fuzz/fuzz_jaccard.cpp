// Character n-gram and word Jaccard similarity against set-based
// references over code points, for any n, 0 and huge values included.
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include "algo/jaccard.hpp"
#include "fuzz_input.hpp"

namespace {

using vorn::fuzz::in_unit_range;
using vorn::fuzz::is_white_space;
using vorn::fuzz::same_bits;

constexpr std::size_t kMaxChars = 400;

template <class T>
double jaccard_of(const std::set<T>& x, const std::set<T>& y) {
    std::size_t common = 0;
    for (const T& item : x) common += y.count(item);
    const std::size_t all = x.size() + y.size() - common;
    return static_cast<double>(common) / static_cast<double>(all);
}

std::set<std::u32string> ngrams(const std::u32string& cps, std::uint64_t n) {
    if (cps.size() < n) return {cps};
    std::set<std::u32string> out;
    for (std::size_t p = 0; p + n <= cps.size(); ++p) out.insert(cps.substr(p, n));
    return out;
}

std::set<std::u32string> words(const std::u32string& cps) {
    const auto parts = vorn::fuzz::split(cps, vorn::fuzz::is_white_space);
    return {parts.begin(), parts.end()};
}

std::uint64_t window_size(vorn::fuzz::FuzzInput& input) {
    const std::uint8_t kind = input.byte();
    if (kind < 160) return kind % 6;               // 0 and the usual small windows
    if (kind < 220) return input.byte() % 64 + 6;  // around the text lengths
    if (kind < 240) return input.u16();            // longer than any text
    return std::numeric_limits<std::uint64_t>::max() - input.byte();
}

void check_ngrams(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb,
                  std::uint64_t n) {
    const auto result = vorn::algo::jaccard_similarity(a, b, n);
    const auto swapped = vorn::algo::jaccard_similarity(b, a, n);
    const auto self = vorn::algo::jaccard_similarity(a, a, n);
    FUZZ_CHECK(self.has_value() && *self == 1.0);
    FUZZ_CHECK(result.has_value() == swapped.has_value());
    if (n == 0 && a != b) {
        FUZZ_CHECK(!result.has_value());
        FUZZ_CHECK(result.error().message == vorn::kZeroWindow.message);
        FUZZ_CHECK(swapped.error().message == vorn::kZeroWindow.message);
        return;
    }
    FUZZ_CHECK(result.has_value());
    const double expected = a == b ? 1.0 : jaccard_of(ngrams(ca, n), ngrams(cb, n));
    FUZZ_CHECK(same_bits(*result, expected));
    FUZZ_CHECK(same_bits(*swapped, *result));
    FUZZ_CHECK(in_unit_range(*result));
    if (a != b && (ca.size() < n || cb.size() < n)) FUZZ_CHECK(*result == 0.0);
}

void check_words(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb) {
    const double s = vorn::algo::jaccard_word_similarity(a, b);
    const auto wa = words(ca), wb = words(cb);
    const double expected = wa.empty() && wb.empty() ? 1.0 : jaccard_of(wa, wb);
    FUZZ_CHECK(same_bits(s, expected));
    FUZZ_CHECK(in_unit_range(s));
    FUZZ_CHECK(same_bits(s, vorn::algo::jaccard_word_similarity(b, a)));
    FUZZ_CHECK(vorn::algo::jaccard_word_similarity(a, a) == 1.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    const std::uint64_t n = window_size(input);
    auto [ca, cb] = input.pair_points(kMaxChars);
    const std::string a = vorn::fuzz::encode(ca);
    const std::string b = vorn::fuzz::encode(cb);
    check_ngrams(a, b, ca, cb, n);
    check_words(a, b, ca, cb);
    return 0;
}
