// Jaccard similarity over n-gram and word sets.
//
// Set elements are spans of the input texts, never copies. Each set is an
// open-addressing table sized once for the number of elements it can get
// (no rehashing), on the stack for short texts. The intersection probes
// the larger set with the elements of the smaller one.
#include "algo/jaccard.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "algo/shingles.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo {
namespace {

inline std::uint64_t mix(std::uint64_t x) noexcept {
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    return x;
}

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

// Deterministic; the hash only decides where elements sit in a table.
// Reads only fixed-size words inside the span (overlapping at its end),
// since n-grams are mostly a few bytes long.
std::uint64_t hash_bytes(const char* p, std::size_t n) noexcept {
    std::uint64_t h = static_cast<std::uint64_t>(n) * 0x9E3779B97F4A7C15ULL;
    std::uint64_t tail;
    if (n >= 8) {
        std::size_t rest = n;
        for (; rest > 8; p += 8, rest -= 8) {
            h = (h ^ load64(p)) * 0xBF58476D1CE4E5B9ULL;
            h ^= h >> 31;
        }
        tail = load64(p + rest - 8);  // the last 8 bytes, overlapping the last word
    } else if (n >= 4) {
        tail = (load32(p) << 32) | load32(p + n - 4);
    } else if (n > 0) {
        const auto byte = [p](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])); };
        tail = (byte(0) << 16) | (byte(n / 2) << 8) | byte(n - 1);
    } else {
        tail = 0;
    }
    return mix(h ^ tail);
}

// A set of non-empty byte spans with a fixed capacity of more than 1.5
// times the number of elements it was created for.
class SpanSet {
public:
    // Trivial, so that the inline table is not cleared beyond what is used.
    struct Slot {
        const char* data;
        std::size_t size;  // 0 marks a free slot
        std::uint64_t hash;
    };

    explicit SpanSet(std::size_t expected) {
        std::size_t capacity = 8;
        while (capacity < expected + expected / 2 + 1) capacity <<= 1;  // load below 2/3
        if (capacity <= kInline) {
            slots_ = inline_;
        } else {
            heap_ = std::make_unique_for_overwrite<Slot[]>(capacity);
            slots_ = heap_.get();
        }
        std::fill_n(slots_, capacity, Slot{nullptr, 0, 0});
        mask_ = capacity - 1;
    }
    SpanSet(const SpanSet&) = delete;
    SpanSet& operator=(const SpanSet&) = delete;

    std::size_t size() const noexcept { return size_; }

    // Calls produce(insert) once; insert(span) adds a span. The table and
    // the count stay in locals meanwhile, which slot stores cannot alias.
    template <class Producer>
    void fill(Producer&& produce) {
        Slot* const slots = slots_;
        const std::size_t mask = mask_;
        std::size_t size = size_;
        produce([&](const char* data, std::size_t length) {
            const std::uint64_t hash = hash_bytes(data, length);
            for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
                Slot& slot = slots[i];
                if (slot.size == 0) {
                    slot = {data, length, hash};
                    ++size;
                    return;
                }
                if (same(slot, data, length, hash)) return;
            }
        });
        size_ = size;
    }

    bool contains(const Slot& element) const noexcept {
        for (std::size_t i = element.hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.size == 0) return false;
            if (same(slot, element.data, element.size, element.hash)) return true;
        }
    }

    // Elements that `other` contains too.
    std::size_t count_common(const SpanSet& other) const noexcept {
        std::size_t common = 0;
        for (std::size_t i = 0; i <= mask_; ++i)
            if (slots_[i].size != 0) common += other.contains(slots_[i]);
        return common;
    }

private:
    // Up to 8 bytes the hash is a bijection of the bytes (given the size),
    // so equal hashes and sizes already mean equal spans.
    static bool same(const Slot& slot, const char* data, std::size_t size, std::uint64_t hash) noexcept {
        return slot.hash == hash && slot.size == size && (size <= 8 || std::memcmp(slot.data, data, size) == 0);
    }

    static constexpr std::size_t kInline = 256;
    Slot inline_[kInline];
    std::unique_ptr<Slot[]> heap_;
    Slot* slots_ = nullptr;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

double ratio(const SpanSet& x, const SpanSet& y) noexcept {
    const bool x_smaller = x.size() <= y.size();
    const SpanSet& smaller = x_smaller ? x : y;
    const SpanSet& larger = x_smaller ? y : x;
    const std::size_t common = smaller.count_common(larger);
    const std::size_t united = larger.size() + (smaller.size() - common);
    return static_cast<double>(common) / static_cast<double>(united);
}

// Every window of n characters of a text of at least n characters, as
// MinHash and SimHash walk them.
void insert_windows(SpanSet& set, std::string_view text, std::uint64_t n) {
    set.fill([&](auto&& insert) {
        (void)char_shingles(text, n, [&](std::string_view window) { insert(window.data(), window.size()); });
    });
}

void insert_words(SpanSet& set, std::string_view text) {
    set.fill([&](auto&& insert) {
        text::for_each_word(text, [&](std::string_view word) { insert(word.data(), word.size()); });
    });
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
