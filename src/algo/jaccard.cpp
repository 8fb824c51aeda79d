// Jaccard similarity over n-gram and word sets.
//
// Set elements are spans of the input texts, never copies. Each set is
// sized once for the number of elements it can get (no rehashing). The
// intersection probes the larger set with the elements of the smaller one.
#include "algo/jaccard.hpp"

#include <cstddef>
#include <functional>

#include "support/flat_hash_table.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo {
namespace {

// Elements are spans of the text; a table of up to 128 of them (a sentence)
// stays on the stack.
using SpanSet = support::FlatHashSet<support::HashedBytes, support::HashedBytesHash, std::equal_to<>, 256>;

double ratio(const SpanSet& x, const SpanSet& y) noexcept {
    const bool x_smaller = x.size() <= y.size();
    const SpanSet& smaller = x_smaller ? x : y;
    const SpanSet& larger = x_smaller ? y : x;
    std::size_t common = 0;
    smaller.for_each([&](const support::HashedBytes& element) { common += larger.contains(element); });
    const std::size_t united = larger.size() + (smaller.size() - common);
    return static_cast<double>(common) / static_cast<double>(united);
}

// Start of the character after the one at pos: the next lead byte, which
// is how characters are counted, so it stays consistent on any bytes.
inline std::size_t next_char(std::string_view text, std::size_t pos) noexcept {
    ++pos;
    while (pos < text.size() && utf8::is_continuation(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

// Every window of n characters of a text of at least n characters.
void insert_windows(SpanSet& set, std::string_view text, std::uint64_t n) {
    std::size_t begin = 0, end = 0;
    for (std::uint64_t k = 0; k < n; ++k) end = next_char(text, end);
    for (;;) {
        set.insert(support::HashedBytes(text.substr(begin, end - begin)));
        if (end >= text.size()) break;
        begin = next_char(text, begin);
        end = next_char(text, end);
    }
}

void insert_words(SpanSet& set, std::string_view text) {
    text::for_each_word(text, [&](std::string_view word) { set.insert(support::HashedBytes(word)); });
}

std::size_t count_words(std::string_view text) {
    std::size_t count = 0;
    text::for_each_word(text, [&](std::string_view) { ++count; });
    return count;
}

}  // namespace

Expected<double, InvalidArgument> jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n) {
    if (a == b) return 1.0;
    if (n == 0) return kZeroWindow;
    const std::size_t count_a = utf8::count_chars(a);
    const std::size_t count_b = utf8::count_chars(b);
    // A shorter text is its own only element, which no window of n
    // characters and no other short text can equal.
    if (count_a < n || count_b < n) return 0.0;
    SpanSet set_a(count_a - n + 1), set_b(count_b - n + 1);
    insert_windows(set_a, a, n);
    insert_windows(set_b, b, n);
    return ratio(set_a, set_b);
}

double jaccard_word_similarity(std::string_view a, std::string_view b) {
    // Identical texts have equal word sets, empty or not.
    if (a == b) return 1.0;
    const std::size_t words_a = count_words(a);
    const std::size_t words_b = count_words(b);
    if (words_a == 0 && words_b == 0) return 1.0;
    if (words_a == 0 || words_b == 0) return 0.0;
    SpanSet set_a(words_a), set_b(words_b);
    insert_words(set_a, a);
    insert_words(set_b, b);
    return ratio(set_a, set_b);
}

}  // namespace vorn::algo
