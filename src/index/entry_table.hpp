// Sorted (key, slot) arrays: the one bucket structure of the indexes.
//
// A table is a multimap from 64-bit keys to 32-bit document slots kept as
// flat arrays sorted by (key, slot): a large base and a small sorted tail
// that new entries are merged into. Lookups binary-search both; the tail is
// merged into the base once it outgrows about the square root of the
// base, so bulk adds cost a sort and a merge and one-at-a-time adds stay
// cheap. The base may be a view into a loaded index file; it is
// copied into owned memory on the first change.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace vorn::index {

#pragma pack(push, 1)
struct Entry {
    std::uint64_t key;
    std::uint32_t slot;
};
#pragma pack(pop)
static_assert(sizeof(Entry) == 12, "entries are stored packed, as in the index file");

inline bool operator<(const Entry& a, const Entry& b) noexcept {
    return a.key != b.key ? a.key < b.key : a.slot < b.slot;
}

// Sorts entries by (key, slot). One counting pass scatters them into about
// as many buckets as entries by the leading bits in which their keys differ
// (keys are hashes or document keys, spread out), then each bucket is
// sorted by insertion, or by std::sort when keys crowd into it.
inline void sort_entries(std::vector<Entry>& entries) {
    if (std::is_sorted(entries.begin(), entries.end())) return;
    if (entries.size() <= 256) {
        std::sort(entries.begin(), entries.end());
        return;
    }
    const auto [lowest, highest] = std::minmax_element(entries.begin(), entries.end(),
                                                       [](const Entry& a, const Entry& b) { return a.key < b.key; });
    const std::uint64_t lo = lowest->key;
    const unsigned digit_bits = std::min(16u, static_cast<unsigned>(std::bit_width(entries.size())));
    const unsigned spread = static_cast<unsigned>(std::bit_width(lo ^ highest->key));
    const unsigned shift = spread > digit_bits ? spread - digit_bits : 0;
    // Keys differ from lo below bit `spread` only, so buckets are < 2^digit_bits.
    auto bucket = [&](const Entry& e) { return static_cast<std::size_t>((e.key - lo) >> shift); };
    std::vector<std::size_t> start((std::size_t{1} << digit_bits) + 1);
    for (const Entry& e : entries) ++start[bucket(e) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::vector<Entry> sorted(entries.size());
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (const Entry& e : entries) sorted[next[bucket(e)]++] = e;
    }
    constexpr std::size_t kInsertionLimit = 32;
    for (std::size_t b = 0; b + 1 < start.size(); ++b) {
        Entry* first = sorted.data() + start[b];
        Entry* last = sorted.data() + start[b + 1];
        if (last - first > static_cast<std::ptrdiff_t>(kInsertionLimit)) {
            std::sort(first, last);
            continue;
        }
        for (Entry* i = first + 1; i < last; ++i) {
            const Entry e = *i;
            Entry* j = i;
            for (; j > first && e < j[-1]; --j) *j = j[-1];
            *j = e;
        }
    }
    entries.swap(sorted);
}

// An array that is either a view (of a loaded file) or owned.
template <class T>
class Column {
public:
    // Copies would view the other's storage; moves keep the buffer.
    Column() = default;
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;
    Column(Column&&) noexcept = default;
    Column& operator=(Column&&) noexcept = default;

    std::span<const T> view() const noexcept { return view_; }
    std::size_t size() const noexcept { return view_.size(); }
    const T& operator[](std::size_t i) const noexcept { return view_[i]; }

    void adopt(std::span<const T> external) {
        owned_.clear();
        owned_.shrink_to_fit();
        view_ = external;
    }
    // Owned storage for changes, copied from the view the first time.
    std::vector<T>& owned() {
        if (view_.data() != owned_.data() || view_.size() != owned_.size()) owned_.assign(view_.begin(), view_.end());
        return owned_;
    }
    // Call after changing owned().
    void sync() noexcept { view_ = owned_; }
    void replace(std::vector<T> values) {
        owned_ = std::move(values);
        view_ = owned_;
    }

private:
    std::vector<T> owned_;
    std::span<const T> view_;
};

class EntryTable {
public:
    // Adds entries (any order).
    void insert(std::vector<Entry> entries) {
        sort_entries(entries);
        if (tail_.empty()) {
            tail_.swap(entries);
        } else {
            std::vector<Entry> merged(tail_.size() + entries.size());
            std::merge(tail_.begin(), tail_.end(), entries.begin(), entries.end(), merged.begin());
            tail_.swap(merged);
        }
        const auto limit =
            std::max<std::size_t>(1024, static_cast<std::size_t>(4 * std::sqrt(static_cast<double>(base_.size()))));
        if (tail_.size() > limit) consolidate();
    }

    // Calls visit(entry) for every entry with lo <= key <= hi, base first.
    template <class Visit>
    void for_each_in(std::uint64_t lo, std::uint64_t hi, Visit&& visit) const {
        visit_range(base_.view(), lo, hi, visit);
        visit_range(std::span<const Entry>(tail_), lo, hi, visit);
    }

    // Merges the tail into the base, so that sorted() is everything.
    void consolidate() {
        if (tail_.empty()) return;
        if (base_.size() == 0) {
            base_.replace(std::move(tail_));
        } else {
            std::vector<Entry> merged(base_.size() + tail_.size());
            std::merge(base_.view().begin(), base_.view().end(), tail_.begin(), tail_.end(), merged.begin());
            base_.replace(std::move(merged));
        }
        tail_.clear();
        tail_.shrink_to_fit();
    }

    // All entries in order; call consolidate() first.
    std::span<const Entry> sorted() const noexcept { return base_.view(); }
    std::size_t size() const noexcept { return base_.size() + tail_.size(); }

    // Drops entries whose slot maps to `kDropped` and renumbers the rest.
    // The mapping must keep the order of slots, so the order holds.
    static constexpr std::uint32_t kDropped = 0xFFFFFFFFu;
    void renumber(std::span<const std::uint32_t> new_slot) {
        consolidate();
        std::vector<Entry> kept;
        kept.reserve(base_.size());
        for (const Entry& e : base_.view())
            if (new_slot[e.slot] != kDropped) kept.push_back({e.key, new_slot[e.slot]});
        base_.replace(std::move(kept));
    }

    void adopt(std::span<const Entry> sorted_entries) {
        tail_.clear();
        base_.adopt(sorted_entries);
    }

private:
    template <class Visit>
    static void visit_range(std::span<const Entry> entries, std::uint64_t lo, std::uint64_t hi, Visit& visit) {
        auto it = std::partition_point(entries.begin(), entries.end(), [lo](const Entry& e) { return e.key < lo; });
        for (; it != entries.end() && it->key <= hi; ++it) visit(*it);
    }

    Column<Entry> base_;
    std::vector<Entry> tail_;
};

}  // namespace vorn::index
