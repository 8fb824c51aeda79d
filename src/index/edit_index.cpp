#include "index/edit_index.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <utility>

#include "algo/levenshtein.hpp"
#include "text/utf8.hpp"

namespace vorn::index {
namespace {

constexpr std::size_t kBlock = 64;
constexpr std::size_t kMaxShared = 255;
// The walk and the scan look at the stop flag this often (entries).
constexpr std::size_t kStopInterval = 4096;

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

// The first (last) eight bytes as a big-endian number, zero-padded: equal
// keys leave the order to the full texts.
std::uint64_t forward_key(std::string_view s) noexcept {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) key = (key << 8) | (i < s.size() ? static_cast<unsigned char>(s[i]) : 0u);
    return key;
}

std::uint64_t backward_key(std::string_view s) noexcept {
    std::uint64_t key = 0;
    for (std::size_t i = 1; i <= 8; ++i)
        key = (key << 8) | (i <= s.size() ? static_cast<unsigned char>(s[s.size() - i]) : 0u);
    return key;
}

// Characters read from the start of a text: `consumed` counts the bytes
// taken. Stray continuation bytes before the first character belong to
// none, as text::CodePoints and utf8::count_chars see it.
struct Forward {
    static constexpr bool kBackward = false;
    static bool next(std::string_view text, std::size_t& consumed, char32_t& c) noexcept {
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
        while (start > 0 && continuation_at(text, start)) --start;
        if (continuation_at(text, start)) return false;  // only stray bytes are left
        consumed = text.size() - start;
        c = utf8::decode(text, start);
        return true;
    }
};

// The band of one row of the edit-distance matrix between a query of m
// characters (columns) and a path of the trie (rows, one per depth d):
// cells j = d - k .. d + k, the only ones that can be within k. Cells
// that exceed their limit (cap in the first capped_columns columns, k
// elsewhere) hold k + 1, which stands for "out of reach".
class BandRows {
public:
    BandRows(std::span<const char32_t> query, unsigned max_distance, std::size_t capped_columns, unsigned cap,
             std::vector<std::uint8_t>& storage)
        : query_(query),
          k_(static_cast<int>(max_distance)),
          width_(2 * max_distance + 1),
          capped_(static_cast<std::ptrdiff_t>(capped_columns)),
          cap_(static_cast<int>(cap)) {
        // Depth m + k + 1 has no cell left in the band: no row lies deeper.
        storage.resize((query.size() + max_distance + 2) * width_);
        rows_ = storage.data();
        compute(0, 0);
    }

    // Row d from row d - 1 and the path's d-th character; false when no
    // cell of it is within reach.
    bool compute(std::size_t d, char32_t c) noexcept {
        const int unreachable = k_ + 1;
        const std::uint8_t* prev = rows_ + (d == 0 ? 0 : d - 1) * width_;
        std::uint8_t* row = rows_ + d * width_;
        const auto m = static_cast<std::ptrdiff_t>(query_.size());
        const std::ptrdiff_t first_column = static_cast<std::ptrdiff_t>(d) - k_;
        int left = unreachable;
        bool alive = false;
        for (std::size_t t = 0; t < width_; ++t) {
            const std::ptrdiff_t j = first_column + static_cast<std::ptrdiff_t>(t);
            int value = unreachable;
            if (j >= 0 && j <= m) {
                if (d == 0) {
                    value = j == 0 ? 0 : left + 1;
                } else {
                    const int up = t + 1 < width_ ? prev[t + 1] + 1 : unreachable;
                    value = std::min(up, left + 1);
                    if (j > 0) value = std::min(value, prev[t] + (query_[static_cast<std::size_t>(j - 1)] != c));
                }
                if (value > (j < capped_ ? cap_ : k_)) value = unreachable;
            }
            row[t] = static_cast<std::uint8_t>(value);
            left = value;
            alive |= value < unreachable;
        }
        return alive;
    }

    // Whether the path of depth d, ending there, is within reach of the
    // whole query.
    bool ends_within(std::size_t d) const noexcept {
        const std::ptrdiff_t t = static_cast<std::ptrdiff_t>(query_.size()) - static_cast<std::ptrdiff_t>(d) + k_;
        return t >= 0 && t < static_cast<std::ptrdiff_t>(width_) && rows_[d * width_ + static_cast<std::size_t>(t)] <= k_;
    }

private:
    std::span<const char32_t> query_;
    int k_;
    std::size_t width_;
    std::ptrdiff_t capped_;
    int cap_;
    std::uint8_t* rows_ = nullptr;
};

std::vector<std::uint8_t> block_minima(std::span<const std::uint8_t> values) {
    std::vector<std::uint8_t> minima((values.size() + kBlock - 1) / kBlock, 0xFF);
    for (std::size_t i = 0; i < values.size(); ++i) minima[i / kBlock] = std::min(minima[i / kBlock], values[i]);
    return minima;
}

bool should_stop(const collection::ChunkContext* context) noexcept {
    return context != nullptr && context->stop_requested();
}

}  // namespace

void TrieOrder::assign(std::vector<std::uint8_t> shared) {
    shared_ = std::move(shared);
    block_min_ = block_minima(shared_);
    group_min_ = block_minima(block_min_);
}

std::size_t TrieOrder::subtree_end(std::size_t i, std::size_t bytes) const noexcept {
    const std::size_t n = shared_.size();
    std::size_t j = i + 1;
    // Rest of i's block, then whole blocks of its group, then whole groups;
    // the first level that holds a smaller value is searched down.
    for (; j < n && j % kBlock != 0; ++j)
        if (shared_[j] < bytes) return j;
    if (j >= n) return n;
    std::size_t block = j / kBlock;
    const std::size_t blocks = block_min_.size();
    for (; block < blocks && block % kBlock != 0; ++block)
        if (block_min_[block] < bytes) break;
    if (block < blocks && block_min_[block] >= bytes) {
        std::size_t group = block / kBlock;
        while (group < group_min_.size() && group_min_[group] >= bytes) ++group;
        if (group == group_min_.size()) return n;
        block = group * kBlock;
        while (block_min_[block] >= bytes) ++block;
    }
    if (block >= blocks) return n;
    for (j = block * kBlock;; ++j)
        if (shared_[j] < bytes) return j;
}

Expected<EditIndex, InvalidArgument> EditIndex::build(const collection::StringColumn& choices) {
    if (choices.size() > kMaxEditIndexChoices) return kTooManyChoices;
    struct Keyed {
        std::uint64_t key;
        std::uint32_t choice;
    };
    std::vector<Keyed> order;
    order.reserve(choices.size() - choices.null_count());
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (!choices.is_null(i)) order.push_back({forward_key(choices[i]), static_cast<std::uint32_t>(i)});
    std::sort(order.begin(), order.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        const int c = choices[a.choice].compare(choices[b.choice]);
        return c != 0 ? c < 0 : a.choice < b.choice;
    });

    EditIndex index;
    index.count_ = choices.size();
    const std::size_t n = order.size();
    std::vector<std::uint64_t> offsets(n + 1, 0);
    std::vector<std::uint32_t> choice_of(n);
    for (std::size_t p = 0; p < n; ++p) {
        choice_of[p] = order[p].choice;
        offsets[p + 1] = offsets[p] + choices[order[p].choice].size();
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
    for (std::size_t p = 0; p < n; ++p) order[p] = {backward_key(index.text(p)), static_cast<std::uint32_t>(p)};
    std::sort(order.begin(), order.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        const int c = compare_backward(index.text(a.choice), index.text(b.choice));
        return c != 0 ? c < 0 : a.choice < b.choice;
    });
    std::vector<std::uint32_t> backward(n);
    for (std::size_t i = 0; i < n; ++i) backward[i] = order[i].choice;
    index.backward_.replace(std::move(backward));
    index.index_orders();
    return index;
}

bool EditIndex::index_orders() {
    const std::size_t n = live();
    std::vector<std::uint8_t> forward(n, 0), backward(n, 0);
    for (std::size_t p = 1; p < n; ++p) {
        const std::string_view a = text(p - 1), b = text(p);
        const int c = a.compare(b);
        if (c > 0 || (c == 0 && choice_of_[p - 1] >= choice_of_[p])) return false;
        forward[p] = shared_prefix(a, b);
    }
    for (std::size_t i = 1; i < n; ++i) {
        const std::string_view a = text(backward_[i - 1]), b = text(backward_[i]);
        const int c = compare_backward(a, b);
        if (c > 0 || (c == 0 && backward_[i - 1] >= backward_[i])) return false;
        backward[i] = shared_suffix(a, b);
    }
    longest_ = 0;
    for (std::size_t p = 0; p < n; ++p) longest_ = std::max<std::size_t>(longest_, offsets_[p + 1] - offsets_[p]);
    forward_order_.assign(std::move(forward));
    backward_order_.assign(std::move(backward));
    return true;
}

std::size_t EditIndex::memory_bytes() const noexcept {
    return bytes_.size() + offsets_.size() * sizeof(std::uint64_t) + choice_of_.size() * sizeof(std::uint32_t) +
           backward_.size() * sizeof(std::uint32_t) + forward_order_.memory_bytes() + backward_order_.memory_bytes();
}

template <class Direction>
bool EditIndex::walk(std::size_t capped_columns, unsigned cap, unsigned max_distance, EditSearch& search,
                     const collection::ChunkContext* context) const {
    const TrieOrder& order = Direction::kBackward ? backward_order_ : forward_order_;
    const std::span<const char32_t> query = Direction::kBackward ? search.reversed : search.query;
    BandRows rows(query, max_distance, capped_columns, cap, search.rows);
    std::vector<std::size_t>& consumed = search.consumed;  // bytes taken at each depth of the path
    consumed.assign(query.size() + max_distance + 2, 0);
    const std::size_t n = live();
    std::size_t depth = 0;
    std::size_t visited = 0;
    for (std::size_t i = 0; i < n;) {
        if (++visited % kStopInterval == 0 && should_stop(context)) return false;
        const std::uint32_t position = Direction::kBackward ? backward_[i] : static_cast<std::uint32_t>(i);
        const std::string_view choice = text(position);
        // Rows up to the depth this entry shares with the one before stay.
        const std::size_t shared = i == 0 ? 0 : order.shared(i);
        while (consumed[depth] > shared) --depth;
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

bool EditIndex::candidates(std::string_view text_of_query, std::uint64_t max_distance, bool by_scan,
                           EditSearch& search, const collection::ChunkContext* context) const {
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
    const auto k = static_cast<unsigned>(max_distance);
    if (k == 0 || m == 0) {
        if (!walk<Forward>(0, k, k, search, context)) return false;
    } else {
        // Columns 0 .. split - 1 hold the first part (split - 1 characters);
        // the step into column split starts the second.
        const std::size_t split = (m - 1) / 2 + 1;
        const unsigned forward_cap = k / 2, backward_cap = (k - 1) / 2;
        if (!walk<Forward>(split, forward_cap, k, search, context) ||
            !walk<Backward>(m - split + 1, backward_cap, k, search, context))
            return false;
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
    }
    return true;
}

bool EditIndex::distances(std::string_view text_of_query, std::uint64_t max_distance, bool by_scan,
                          EditSearch& search, std::vector<EditMatch>& out,
                          const collection::ChunkContext* context) const {
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
            if (distance <= max_distance)
                out.push_back({choice_of_[found[f]], static_cast<std::uint32_t>(distance)});
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
    if (!index.index_orders()) return kMalformed;
    index.mapping_ = std::move(file->mapping);
    return index;
}

}  // namespace vorn::index
