// Sorted (key, slot) arrays: the one bucket structure of the indexes.
//
// A table is a multimap from 64-bit keys to 32-bit document slots kept as
// flat arrays sorted by (key, slot): a large base and a small sorted tail
// that new entries are merged into. Lookups binary-search both; the tail is
// merged into the base once it outgrows about the square root of the
// base, so bulk adds cost a sort and a merge and one-at-a-time adds stay
// cheap. The base may be a view into a memory-mapped index file; it is
// copied into owned memory on the first change.
#pragma once

#include <algorithm>
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

// Stable sort of values by key(value) < 2^bits: least-significant-digit
// radix passes of 11 bits, a few linear passes where std::sort would compare
// n log n times. Equal keys keep their order.
template <class T, class Key>
void radix_sort(std::vector<T>& values, unsigned bits, Key key) {
    constexpr unsigned kDigit = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kDigit;
    std::vector<T> buffer(values.size());
    std::vector<std::size_t> start(kBuckets + 1);
    for (unsigned shift = 0; shift < bits; shift += kDigit) {
        std::fill(start.begin(), start.end(), 0);
        for (const T& v : values) ++start[((key(v) >> shift) & (kBuckets - 1)) + 1];
        if (start[1 + ((key(values.front()) >> shift) & (kBuckets - 1))] == values.size()) continue;  // one digit
        for (std::size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
        for (const T& v : values) buffer[start[(key(v) >> shift) & (kBuckets - 1)]++] = v;
        values.swap(buffer);
    }
}

// Sorts entries by (key, slot).
inline void sort_entries(std::vector<Entry>& entries) {
    if (std::is_sorted(entries.begin(), entries.end())) return;
    const bool slots_rise =
        std::is_sorted(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.slot < b.slot; });
    if (entries.size() > 256 && slots_rise) radix_sort(entries, 64, [](const Entry& e) { return e.key; });
    else std::sort(entries.begin(), entries.end());
}

// An array that is either a view (of a mapped file) or owned.
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
        std::vector<Entry> merged(tail_.size() + entries.size());
        std::merge(tail_.begin(), tail_.end(), entries.begin(), entries.end(), merged.begin());
        tail_.swap(merged);
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
        std::vector<Entry> merged(base_.size() + tail_.size());
        std::merge(base_.view().begin(), base_.view().end(), tail_.begin(), tail_.end(), merged.begin());
        base_.replace(std::move(merged));
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
