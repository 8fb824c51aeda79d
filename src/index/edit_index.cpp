#include "index/edit_index.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <utility>

#include "algo/levenshtein.hpp"
#include "text/utf8.hpp"

namespace vorn::index {
namespace {

constexpr std::size_t kBlock = 64;
constexpr std::size_t kMaxShared = 255;
// The walk and the scan look at the stop flag this often (entries).
constexpr std::size_t kStopInterval = 4096;
// Pads the query beyond its ends; cells that compare with it are out of
// reach whatever it equals.
constexpr char32_t kNoCharacter = 0xFFFFFFFF;

bool continuation_at(std::string_view s, std::size_t i) noexcept {
    return i < s.size() && utf8::is_continuation(static_cast<unsigned char>(s[i]));
}

// Leading bytes a and b share, cut to a character boundary of both and to
// kMaxShared (a shorter count only means more work, never a wrong match).
std::uint8_t shared_prefix(std::string_view a, std::string_view b) noexcept {
    const std::size_t limit = std::min({a.size(), b.size(), kMaxShared + 1});
    std::size_t n = static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + limit, b.begin()).first - a.begin());
    n = std::min(n, kMaxShared);
    while (n > 0 && (continuation_at(a, n) || continuation_at(b, n))) --n;
    return static_cast<std::uint8_t>(n);
}

// Trailing bytes a and b share, starting on a character boundary of both.
std::uint8_t shared_suffix(std::string_view a, std::string_view b) noexcept {
    const std::size_t limit = std::min({a.size(), b.size(), kMaxShared});
    std::size_t n = 0;
    while (n < limit && a[a.size() - 1 - n] == b[b.size() - 1 - n]) ++n;
    while (n > 0 && (continuation_at(a, a.size() - n) || continuation_at(b, b.size() - n))) --n;
    return static_cast<std::uint8_t>(n);
}

// Byte order of the reversed texts.
int compare_backward(std::string_view a, std::string_view b) noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 1; i <= common; ++i) {
        const auto x = static_cast<unsigned char>(a[a.size() - i]), y = static_cast<unsigned char>(b[b.size() - i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// A text's first (Backward: last) sixteen bytes as a big-endian number,
// zero-padded, which orders most texts without reading them again; equal
// keys leave the order to the full texts, then to the item.
struct SortKey {
    std::uint64_t high, low;
    std::uint32_t item;
};

template <bool kBackward>
SortKey sort_key(std::string_view s, std::uint32_t item) noexcept {
    const auto byte = [&](std::size_t i) -> std::uint64_t {
        if (i >= s.size()) return 0;
        return static_cast<unsigned char>(kBackward ? s[s.size() - 1 - i] : s[i]);
    };
    SortKey key{0, 0, item};
    for (std::size_t i = 0; i < 8; ++i) {
        key.high = (key.high << 8) | byte(i);
        key.low = (key.low << 8) | byte(i + 8);
    }
    return key;
}

template <bool kBackward, class TextOf>
void sort_by_text(std::vector<SortKey>& keys, const TextOf& text_of) {
    std::sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
        if (a.high != b.high) return a.high < b.high;
        if (a.low != b.low) return a.low < b.low;
        const int c =
            kBackward ? compare_backward(text_of(a.item), text_of(b.item)) : text_of(a.item).compare(text_of(b.item));
        return c != 0 ? c < 0 : a.item < b.item;
    });
}

// Characters read from the start of a text: `consumed` counts the bytes
// taken. Stray continuation bytes before the first character belong to
// none, as text::CodePoints and utf8::count_chars see it.
struct Forward {
    static constexpr bool kBackward = false;
    static bool next(std::string_view text, std::size_t& consumed, char32_t& c) noexcept {
        if (consumed < text.size() && static_cast<unsigned char>(text[consumed]) < 0x80) {
            c = static_cast<unsigned char>(text[consumed++]);
            return true;
        }
        std::size_t pos = consumed == 0 ? utf8::ceil_boundary(text, 0) : consumed;
        if (pos >= text.size()) return false;
        c = utf8::decode(text, pos);
        consumed = pos;
        return true;
    }
};

// Characters read from the end: the same characters as Forward, last first.
struct Backward {
    static constexpr bool kBackward = true;
    static bool next(std::string_view text, std::size_t& consumed, char32_t& c) noexcept {
        if (consumed >= text.size()) return false;
        std::size_t start = text.size() - consumed - 1;
        if (static_cast<unsigned char>(text[start]) < 0x80) {
            c = static_cast<unsigned char>(text[start]);
            ++consumed;
            return true;
        }
        while (start > 0 && continuation_at(text, start)) --start;
        if (continuation_at(text, start)) return false;  // only stray bytes are left
        consumed = text.size() - start;
        c = utf8::decode(text, start);
        return true;
    }
};

// The band of one row of the edit-distance matrix between a query of m
// characters (columns) and a path of the trie (rows, one per depth d):
// cells j = d - K .. d + K, the only ones that can be within K. Cells
// that exceed their column's limit (cap in the first capped_columns
// columns, K elsewhere) hold K + 1, which stands for "out of reach".
// Columns outside 0 .. m have limit -1 and a character no text holds, so
// the loop over a row needs no tests.
template <int K>
class BandRows {
public:
    static constexpr int kWidth = 2 * K + 1;
    static constexpr int kUnreachable = K + 1;

    BandRows(std::span<const char32_t> query, std::size_t capped_columns, unsigned cap, EditSearch& scratch)
        : m_(query.size()) {
        // Rows reach depth m + K + 1 (where none is left within reach), so
        // columns j = -K - 1 .. m + 2K + 1.
        const std::size_t columns = m_ + 3 * K + 3;
        scratch.padded.assign(columns, kNoCharacter);
        for (std::size_t j = 0; j < m_; ++j) scratch.padded[j + K + 1] = query[j];
        scratch.limits.assign(columns, -1);
        for (std::size_t j = 0; j <= m_; ++j)
            scratch.limits[j + K + 1] = static_cast<std::int8_t>(j < capped_columns ? static_cast<int>(cap) : K);
        padded_ = scratch.padded.data() + K + 1;
        limits_ = scratch.limits.data() + K + 1;
        scratch.rows.assign((m_ + K + 2) * (kWidth + 1), kUnreachable);
        rows_ = scratch.rows.data();
        int left = kUnreachable;
        for (int t = 0; t < kWidth; ++t) {
            const int j = t - K;
            int value = j == 0 ? 0 : left + 1;
            if (j < 0 || value > limits_[j]) value = kUnreachable;
            rows_[t] = static_cast<std::uint8_t>(value);
            left = value;
        }
    }

    // Row d >= 1 from row d - 1 and the path's d-th character; false when
    // no cell of it is within reach.
    bool compute(std::size_t d, char32_t c) noexcept {
        const std::uint8_t* prev = rows_ + (d - 1) * (kWidth + 1);
        std::uint8_t* row = rows_ + d * (kWidth + 1);
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(d) - K;
        const char32_t* q = padded_ + first - 1;  // q[t]: the query character of column first + t
        const std::int8_t* limit = limits_ + first;
        int left = kUnreachable;
        int reached = 0;
        for (int t = 0; t < kWidth; ++t) {
            int value = std::min(prev[t + 1] + 1, left + 1);  // prev[kWidth] is always unreachable
            value = std::min(value, prev[t] + (q[t] != c));
            value = value > limit[t] ? kUnreachable : value;
            row[t] = static_cast<std::uint8_t>(value);
            left = value;
            reached |= value != kUnreachable;
        }
        return reached != 0;
    }

    // Whether the path of depth d, ending there, is within reach of the
    // whole query.
    bool ends_within(std::size_t d) const noexcept {
        const std::ptrdiff_t t = static_cast<std::ptrdiff_t>(m_) - static_cast<std::ptrdiff_t>(d) + K;
        return t >= 0 && t < kWidth && rows_[d * (kWidth + 1) + static_cast<std::size_t>(t)] <= K;
    }

private:
    std::size_t m_;
    const char32_t* padded_ = nullptr;
    const std::int8_t* limits_ = nullptr;
    std::uint8_t* rows_ = nullptr;
};

// First position in [begin, end) whose value is below `bound`, or end.
// Eight values at a time: with every byte's top bit set, subtracting a
// bound of at most 128 borrows from no neighbour, and leaves the top bit
// clear exactly where a value below 128 was below the bound.
std::size_t first_below(const std::uint8_t* values, std::size_t begin, std::size_t end, std::size_t bound) noexcept {
    std::size_t j = begin;
    if constexpr (std::endian::native == std::endian::little) {
        if (bound >= 1 && bound <= 128) {
            constexpr std::uint64_t kHigh = 0x8080808080808080ULL, kOnes = 0x0101010101010101ULL;
            const std::uint64_t subtrahend = kOnes * bound;
            for (; j + 8 <= end; j += 8) {
                std::uint64_t word;
                std::memcpy(&word, values + j, 8);
                const std::uint64_t below = ~(((word | kHigh) - subtrahend) | word) & kHigh;
                if (below != 0) return j + static_cast<std::size_t>(std::countr_zero(below)) / 8;
            }
        }
    }
    for (; j < end; ++j)
        if (values[j] < bound) return j;
    return end;
}

std::vector<std::uint8_t> block_minima(std::span<const std::uint8_t> values) {
    std::vector<std::uint8_t> minima((values.size() + kBlock - 1) / kBlock, 0xFF);
    for (std::size_t i = 0; i < values.size(); ++i) minima[i / kBlock] = std::min(minima[i / kBlock], values[i]);
    return minima;
}

// Calls f with std::integral_constant<int, k> for k <= kMaxWalkDistance.
template <class F>
bool with_band(std::uint64_t k, F&& f) {
    static_assert(EditIndex::kMaxWalkDistance == 8);
    switch (k) {
        case 0: return f(std::integral_constant<int, 0>{});
        case 1: return f(std::integral_constant<int, 1>{});
        case 2: return f(std::integral_constant<int, 2>{});
        case 3: return f(std::integral_constant<int, 3>{});
        case 4: return f(std::integral_constant<int, 4>{});
        case 5: return f(std::integral_constant<int, 5>{});
        case 6: return f(std::integral_constant<int, 6>{});
        case 7: return f(std::integral_constant<int, 7>{});
        default: return f(std::integral_constant<int, 8>{});
    }
}

bool should_stop(const collection::ChunkContext* context) noexcept {
    return context != nullptr && context->stop_requested();
}

}  // namespace

void TrieOrder::assign(std::vector<std::uint8_t> shared, std::vector<std::uint8_t> next) {
    shared_ = std::move(shared);
    next_ = std::move(next);
    block_min_ = block_minima(shared_);
    group_min_ = block_minima(block_min_);
}

std::size_t TrieOrder::subtree_end(std::size_t i, std::size_t bytes) const noexcept {
    // The rest of i's block, then block minima to the end of its group,
    // then group minima; the first level holding a smaller value is
    // searched down.
    const std::size_t n = shared_.size(), blocks = block_min_.size(), groups = group_min_.size();
    const std::size_t block_end = std::min(n, (i / kBlock + 1) * kBlock);
    if (const std::size_t j = first_below(shared_.data(), i + 1, block_end, bytes); j < block_end) return j;
    if (block_end == n) return n;
    std::size_t block = block_end / kBlock;
    const std::size_t group_end = std::min(blocks, (block / kBlock + 1) * kBlock);
    block = first_below(block_min_.data(), block, group_end, bytes);
    if (block == group_end) {
        if (group_end == blocks) return n;
        const std::size_t group = first_below(group_min_.data(), group_end / kBlock, groups, bytes);
        if (group == groups) return n;
        block = first_below(block_min_.data(), group * kBlock, std::min(blocks, (group + 1) * kBlock), bytes);
    }
    return first_below(shared_.data(), block * kBlock, std::min(n, (block + 1) * kBlock), bytes);
}

Expected<EditIndex, InvalidArgument> EditIndex::build(const collection::StringColumn& choices) {
    if (choices.size() > kMaxEditIndexChoices) return kTooManyChoices;
    std::vector<SortKey> order;
    order.reserve(choices.size() - choices.null_count());
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (!choices.is_null(i)) order.push_back(sort_key<false>(choices[i], static_cast<std::uint32_t>(i)));
    sort_by_text<false>(order, [&](std::uint32_t choice) { return choices[choice]; });

    EditIndex index;
    index.count_ = choices.size();
    const std::size_t n = order.size();
    std::vector<std::uint64_t> offsets(n + 1, 0);
    std::vector<std::uint32_t> choice_of(n);
    for (std::size_t p = 0; p < n; ++p) {
        choice_of[p] = order[p].item;
        offsets[p + 1] = offsets[p] + choices[order[p].item].size();
    }
    std::vector<char> bytes(offsets[n]);
    for (std::size_t p = 0; p < n; ++p) {
        const std::string_view s = choices[choice_of[p]];
        if (!s.empty()) std::memcpy(bytes.data() + offsets[p], s.data(), s.size());
    }
    index.bytes_.replace(std::move(bytes));
    index.offsets_.replace(std::move(offsets));
    index.choice_of_.replace(std::move(choice_of));

    // The backward order, as forward positions; ties keep forward order.
    for (std::size_t p = 0; p < n; ++p) order[p] = sort_key<true>(index.text(p), static_cast<std::uint32_t>(p));
    sort_by_text<true>(order, [&](std::uint32_t position) { return index.text(position); });
    std::vector<std::uint32_t> backward(n);
    for (std::size_t i = 0; i < n; ++i) backward[i] = order[i].item;
    index.backward_.replace(std::move(backward));
    index.index_orders(false);
    return index;
}

bool EditIndex::index_orders(bool check) {
    const std::size_t n = live();
    std::vector<std::uint8_t> forward(n, 0), backward(n, 0), forward_next(n), backward_next(n);
    // What follows the shared bytes of a text, as TrieOrder::next_byte keeps it.
    const auto next_byte = [](std::string_view s, std::size_t shared, bool from_end) -> std::uint8_t {
        if (shared == s.size()) return TrieOrder::kEndsHere;
        const auto byte = static_cast<unsigned char>(s[from_end ? s.size() - shared - 1 : shared]);
        return byte < 0x80 ? byte : TrieOrder::kNotAscii;
    };
    for (std::size_t p = 0; p < n; ++p) {
        const std::string_view b = text(p);
        if (p > 0) {
            const std::string_view a = text(p - 1);
            forward[p] = shared_prefix(a, b);
            if (check) {
                const int c = a.compare(b);
                if (c > 0 || (c == 0 && choice_of_[p - 1] >= choice_of_[p])) return false;
            }
        }
        forward_next[p] = next_byte(b, forward[p], false);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view b = text(backward_[i]);
        if (i > 0) {
            const std::string_view a = text(backward_[i - 1]);
            backward[i] = shared_suffix(a, b);
            if (check) {
                const int c = compare_backward(a, b);
                if (c > 0 || (c == 0 && backward_[i - 1] >= backward_[i])) return false;
            }
        }
        backward_next[i] = next_byte(b, backward[i], true);
    }
    longest_ = 0;
    for (std::size_t p = 0; p < n; ++p) longest_ = std::max<std::size_t>(longest_, offsets_[p + 1] - offsets_[p]);
    forward_order_.assign(std::move(forward), std::move(forward_next));
    backward_order_.assign(std::move(backward), std::move(backward_next));
    return true;
}

std::size_t EditIndex::memory_bytes() const noexcept {
    return bytes_.size() + offsets_.size() * sizeof(std::uint64_t) + choice_of_.size() * sizeof(std::uint32_t) +
           backward_.size() * sizeof(std::uint32_t) + forward_order_.memory_bytes() + backward_order_.memory_bytes();
}

template <class Direction, int K>
bool EditIndex::walk(std::size_t capped_columns, unsigned cap, EditSearch& search,
                     const collection::ChunkContext* context) const {
    const TrieOrder& order = Direction::kBackward ? backward_order_ : forward_order_;
    const std::span<const char32_t> query = Direction::kBackward ? search.reversed : search.query;
    BandRows<K> rows(query, capped_columns, cap, search);
    std::vector<std::size_t>& consumed = search.consumed;  // bytes taken at each depth of the path
    consumed.assign(query.size() + K + 2, 0);
    const std::size_t n = live();
    std::size_t depth = 0;
    std::size_t visited = 0;
    for (std::size_t i = 0; i < n;) {
        if (++visited % kStopInterval == 0 && should_stop(context)) return false;
        const std::uint32_t position = Direction::kBackward ? backward_[i] : static_cast<std::uint32_t>(i);
        // Rows up to the depth this entry shares with the one before stay.
        const std::size_t shared = order.shared(i);
        while (consumed[depth] > shared) --depth;
        if (consumed[depth] == shared) {
            // The entry branches off the path here: its next character (or
            // its end) is known without reading its text, which a walk
            // that leaves most branches at once never has to load.
            const std::uint8_t next = order.next_byte(i);
            if (next == TrieOrder::kEndsHere) {
                if (rows.ends_within(depth)) search.positions.push_back(position);
                ++i;
                continue;
            }
            if (next != TrieOrder::kNotAscii) {
                if (!rows.compute(depth + 1, next)) {
                    i = order.subtree_end(i, shared + 1);
                    continue;
                }
                consumed[++depth] = shared + 1;
            }
        }
        const std::string_view choice = text(position);
        std::size_t taken = consumed[depth];
        char32_t c;
        bool within = true;
        while (Direction::next(choice, taken, c)) {
            consumed[++depth] = taken;
            if (!rows.compute(depth, c)) {
                within = false;
                break;
            }
        }
        if (!within) {
            const std::size_t subtree_bytes = consumed[depth--];
            i = order.subtree_end(i, subtree_bytes);
            continue;
        }
        if (rows.ends_within(depth)) search.positions.push_back(position);
        ++i;
    }
    return true;
}

bool EditIndex::candidates(std::string_view text_of_query, std::uint64_t max_distance, bool by_scan, EditSearch& search,
                           const collection::ChunkContext* context) const {
    search.query.clear();
    std::size_t taken = 0;
    char32_t c;
    while (Forward::next(text_of_query, taken, c)) search.query.push_back(c);
    const std::size_t m = search.query.size();
    std::vector<std::uint32_t>& found = search.positions;
    found.clear();
    if (by_scan || max_distance > kMaxWalkDistance) {
        for (std::size_t p = 0; p < live(); ++p) {
            if ((p + 1) % kStopInterval == 0 && should_stop(context)) return false;
            const std::size_t length = utf8::count_chars(text(p));
            if ((length > m ? length - m : m - length) <= max_distance) found.push_back(static_cast<std::uint32_t>(p));
        }
        return true;
    }
    search.reversed.assign(search.query.rbegin(), search.query.rend());
    const bool completed = with_band(max_distance, [&](auto band) {
        constexpr int k = decltype(band)::value;
        if (k == 0 || m == 0) return walk<Forward, k>(0, k, search, context);
        // Columns 0 .. split - 1 hold the first part (split - 1 characters);
        // the step into column split starts the second.
        const std::size_t split = (m - 1) / 2 + 1;
        const unsigned forward_cap = k / 2, backward_cap = (k - 1) / 2;
        return walk<Forward, k>(split, forward_cap, search, context) &&
               walk<Backward, k>(m - split + 1, backward_cap, search, context);
    });
    if (!completed) return false;
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return true;
}

bool EditIndex::distances(std::string_view text_of_query, std::uint64_t max_distance, bool by_scan, EditSearch& search,
                          std::vector<EditMatch>& out, const collection::ChunkContext* context) const {
    max_distance = std::min<std::uint64_t>(max_distance, UINT32_MAX - 1);
    if (!candidates(text_of_query, max_distance, by_scan, search, context)) return false;
    const std::vector<std::uint32_t>& found = search.positions;
    const std::size_t first = out.size();
    if (!found.empty()) {
        const algo::CachedLevenshtein scorer(text_of_query);
        std::uint64_t distance = 0;
        for (std::size_t f = 0; f < found.size(); ++f) {
            const std::string_view choice = text(found[f]);
            // Equal choices sit side by side in forward order.
            if (f == 0 || choice != text(found[f - 1])) distance = scorer.distance(choice, max_distance);
            if (distance <= max_distance) out.push_back({choice_of_[found[f]], static_cast<std::uint32_t>(distance)});
        }
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    return true;
}

bool EditIndex::query(std::string_view text_of_query, std::uint64_t max_distance, EditSearch& search,
                      std::vector<EditMatch>& out, const collection::ChunkContext* context) const {
    return distances(text_of_query, max_distance, false, search, out, context);
}

bool EditIndex::scan(std::string_view text_of_query, std::uint64_t max_distance, EditSearch& search,
                     std::vector<EditMatch>& out, const collection::ChunkContext* context) const {
    return distances(text_of_query, max_distance, true, search, out, context);
}

bool EditIndex::query_similar(std::string_view text_of_query, double cutoff, EditSearch& search,
                              std::vector<SimilarityMatch>& out, const collection::ChunkContext* context) const {
    const std::size_t m = utf8::count_chars(text_of_query);
    const std::uint64_t max_distance = distance_for_similarity(m, cutoff);
    if (!candidates(text_of_query, max_distance, false, search, context)) return false;
    const std::size_t first = out.size();
    const algo::CachedLevenshtein scorer(text_of_query);
    for (const std::uint32_t position : search.positions) {
        const std::string_view choice = text(position);
        const std::size_t longer = std::max(m, utf8::count_chars(choice));
        // The formula of algo::levenshtein_similarity, on the same distance.
        const double similarity =
            longer == 0 ? 1.0 : 1.0 - static_cast<double>(scorer.distance(choice)) / static_cast<double>(longer);
        if (similarity >= cutoff) out.push_back({choice_of_[position], similarity});
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const SimilarityMatch& a, const SimilarityMatch& b) {
                  return a.similarity != b.similarity ? a.similarity > b.similarity : a.choice < b.choice;
              });
    return true;
}

std::uint64_t EditIndex::distance_for_similarity(std::size_t length, double cutoff) const noexcept {
    // No distance exceeds the longer text's length.
    const std::uint64_t limit = std::max<std::uint64_t>(length, longest_);
    // With d edits the similarity is highest when the choice is d longer
    // than the query: 1 - d / (m + d), which falls as d grows (so does its
    // rounded value), so the first d that misses the cutoff ends the search.
    std::uint64_t d = 0;
    while (d < limit) {
        const double next = static_cast<double>(d + 1);
        if (!(1.0 - next / (static_cast<double>(length) + next) >= cutoff)) break;
        ++d;
    }
    return d;
}

Expected<std::size_t, FileProblem> EditIndex::save(const std::string& path) const {
    const std::span<const std::byte> sections[] = {std::as_bytes(bytes_.view()), std::as_bytes(offsets_.view()),
                                                   std::as_bytes(choice_of_.view()), std::as_bytes(backward_.view())};
    const IndexHeader header{IndexKind::kEditDistance, count_, {live(), 0, 0, 0, 0, 0, 0, 0}};
    return write_index_file(path, header, sections);
}

Expected<EditIndex, FileProblem> EditIndex::load(const std::string& path) {
    auto file = read_index_file(path, IndexKind::kEditDistance);
    if (!file) return file.error();
    const auto& p = file->header.params;
    const std::uint64_t count = file->header.documents, n = p[0];
    if (count > kMaxEditIndexChoices || n > count || file->sections.size() != 4 ||
        std::any_of(p.begin() + 1, p.end(), [](std::uint64_t v) { return v != 0; }))
        return kMalformed;
    std::span<const std::uint64_t> offsets;
    std::span<const std::uint32_t> choice_of, backward;
    const auto& sections = file->sections;
    if (!section_as(sections[1], n + 1, offsets) || !section_as(sections[2], n, choice_of) ||
        !section_as(sections[3], n, backward))
        return kMalformed;
    if (offsets[0] != 0 || offsets[n] != sections[0].size()) return kMalformed;
    for (std::size_t i = 0; i < n; ++i)
        if (offsets[i] > offsets[i + 1]) return kMalformed;
    // Every choice and every forward position exactly once.
    std::vector<std::uint8_t> seen(count, 0), placed(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (choice_of[i] >= count || seen[choice_of[i]]++ || backward[i] >= n || placed[backward[i]]++)
            return kMalformed;
    }
    EditIndex index;
    index.count_ = count;
    index.bytes_.adopt({reinterpret_cast<const char*>(sections[0].data()), sections[0].size()});
    index.offsets_.adopt(offsets);
    index.choice_of_.adopt(choice_of);
    index.backward_.adopt(backward);
    // Both orders sorted, or the walks would miss choices.
    if (!index.index_orders(true)) return kMalformed;
    index.loaded_file_ = std::move(file->loaded);
    return index;
}

}  // namespace vorn::index
