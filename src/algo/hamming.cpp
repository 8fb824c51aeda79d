// Hamming distance: one pass over both texts, every position counted.
#include "algo/hamming.hpp"

#include <cstddef>

#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

struct Comparison {
    std::uint64_t distance;
    std::size_t length;  // in characters
};

std::optional<Comparison> compare(std::string_view a, std::string_view b) {
    const std::size_t count_a = utf8::count_chars(a);
    const std::size_t count_b = utf8::count_chars(b);
    if (count_a != count_b) return std::nullopt;
    std::uint64_t distance = 0;
    if (count_a == a.size() && count_b == b.size()) {
        // Pure ASCII: characters are bytes.
        for (std::size_t i = 0; i < a.size(); ++i) distance += a[i] != b[i];
        return Comparison{distance, count_a};
    }
    std::size_t pa = 0, pb = 0;
    while (pa < a.size() && pb < b.size()) distance += utf8::decode(a, pa) != utf8::decode(b, pb);
    return Comparison{distance, count_a};
}

}  // namespace

std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b) {
    const auto found = compare(a, b);
    if (!found) return std::nullopt;
    return found->distance;
}

std::optional<double> hamming_similarity(std::string_view a, std::string_view b) {
    const auto found = compare(a, b);
    if (!found) return std::nullopt;
    if (found->length == 0) return 1.0;
    return 1.0 - static_cast<double>(found->distance) / static_cast<double>(found->length);
}

}  // namespace vorn::algo
