// Hamming distance: one pass over both texts, every position counted.
#include "algo/hamming.hpp"

#include <cstddef>

#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {
namespace {

struct Comparison {
    std::uint64_t distance;
    std::size_t length;  // in characters
};

Expected<Comparison, InvalidArgument> compare(std::string_view a, std::string_view b) {
    const std::size_t length = utf8::count_chars(a);
    if (utf8::count_chars(b) != length) return kUnequalLength;
    std::uint64_t distance = 0;
    if (length == a.size() && length == b.size()) {
        // Pure ASCII: characters are bytes.
        for (std::size_t i = 0; i < a.size(); ++i) distance += a[i] != b[i];
        return Comparison{distance, length};
    }
    const text::CodePoints other(b);
    auto it = other.begin();
    for (char32_t c : text::CodePoints(a)) distance += c != *it++;
    return Comparison{distance, length};
}

}  // namespace

Expected<std::uint64_t, InvalidArgument> hamming_distance(std::string_view a, std::string_view b) {
    const auto found = compare(a, b);
    if (!found) return found.error();
    return found->distance;
}

Expected<double, InvalidArgument> hamming_similarity(std::string_view a, std::string_view b) {
    const auto found = compare(a, b);
    if (!found) return found.error();
    if (found->length == 0) return 1.0;
    return 1.0 - static_cast<double>(found->distance) / static_cast<double>(found->length);
}

}  // namespace vorn::algo
