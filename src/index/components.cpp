#include "index/components.hpp"

#include <algorithm>
#include <vector>

#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "index/lsh.hpp"
#include "index/simhash_index.hpp"

namespace vorn::index {
namespace {

constexpr std::size_t kGroupsPerStopCheck = 4096;

struct KeyedDocument {
    std::uint64_t key;
    std::int64_t index;
    bool operator<(const KeyedDocument& o) const noexcept { return key != o.key ? key < o.key : index < o.index; }
};

// Calls link(group) for every run of equal keys of two or more documents,
// in key order; stops early when asked.
template <class Link>
bool for_each_group(std::vector<KeyedDocument>& docs, const StopCheck& should_stop, Link&& link) {
    std::sort(docs.begin(), docs.end());
    std::size_t groups = 0;
    for (std::size_t start = 0; start < docs.size();) {
        std::size_t end = start + 1;
        while (end < docs.size() && docs[end].key == docs[start].key) ++end;
        if (end - start > 1) {
            link(std::span<const KeyedDocument>(docs).subspan(start, end - start));
            if (++groups % kGroupsPerStopCheck == 0 && should_stop && should_stop()) return false;
        }
        start = end;
    }
    return true;
}

}  // namespace

void DisjointSets::reset(std::span<std::int64_t> parent) noexcept {
    for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<std::int64_t>(i);
}

bool DisjointSets::valid(std::span<const std::int64_t> parent) noexcept {
    for (std::size_t i = 0; i < parent.size(); ++i)
        if (parent[i] < 0 || parent[i] > static_cast<std::int64_t>(i)) return false;
    return true;
}

std::int64_t DisjointSets::find(std::int64_t x) noexcept {
    while (parent_[x] != x) {
        parent_[x] = parent_[parent_[x]];  // path halving
        x = parent_[x];
    }
    return x;
}

bool DisjointSets::unite(std::int64_t a, std::int64_t b) noexcept {
    a = find(a);
    b = find(b);
    if (a == b) return false;
    if (a < b) parent_[b] = a;
    else parent_[a] = b;
    return true;
}

void DisjointSets::labels(std::span<std::int64_t> out) noexcept {
    for (std::size_t i = 0; i < parent_.size(); ++i) out[i] = find(static_cast<std::int64_t>(i));
}

Expected<std::size_t, InvalidArgument> connected_components(std::span<const std::int64_t> first,
                                                            std::span<const std::int64_t> second,
                                                            std::span<std::int64_t> labels) {
    const auto n = static_cast<std::int64_t>(labels.size());
    for (std::size_t k = 0; k < first.size(); ++k)
        if (first[k] < 0 || first[k] >= n || second[k] < 0 || second[k] >= n)
            return InvalidArgument{"edge endpoints must lie in [0, n)"};
    DisjointSets::reset(labels);
    DisjointSets sets(labels);
    for (std::size_t k = 0; k < first.size(); ++k) sets.unite(first[k], second[k]);
    sets.labels(labels);
    return labels.size();
}

bool link_identical_signatures(std::span<const std::uint64_t> signatures, std::size_t num_hashes, DisjointSets& sets,
                               const StopCheck& should_stop) {
    const std::size_t n = num_hashes == 0 ? signatures.size() : signatures.size() / num_hashes;
    std::vector<KeyedDocument> docs(n);
    for (std::size_t i = 0; i < n; ++i)
        docs[i] = {band_key(signatures.subspan(i * num_hashes, num_hashes), 0), static_cast<std::int64_t>(i)};
    auto row = [&](std::int64_t i) { return signatures.subspan(static_cast<std::size_t>(i) * num_hashes, num_hashes); };
    return for_each_group(docs, should_stop, [&](std::span<const KeyedDocument> group) {
        // Equal keys almost surely mean equal rows; each member joins the
        // first earlier member whose row is equal.
        for (std::size_t a = 1; a < group.size(); ++a) {
            for (std::size_t b = 0; b < a; ++b) {
                if (std::ranges::equal(row(group[a].index), row(group[b].index))) {
                    sets.unite(group[a].index, group[b].index);
                    break;
                }
            }
        }
    });
}

bool link_band(std::span<const std::uint64_t> band_key_rows, std::size_t bands, std::size_t band,
               std::span<const std::uint8_t> active, std::span<const std::uint64_t> signatures, std::size_t num_hashes,
               double threshold, DisjointSets& sets, const StopCheck& should_stop) {
    const std::size_t n = bands == 0 ? 0 : band_key_rows.size() / bands;
    std::vector<KeyedDocument> docs;
    docs.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        if (active.empty() || active[i])
            docs.push_back({band_key_rows[i * bands + band], static_cast<std::int64_t>(i)});
    auto row = [&](std::int64_t i) { return signatures.subspan(static_cast<std::size_t>(i) * num_hashes, num_hashes); };
    // The members seen so far, in lists of one set each: a new member is
    // compared with the members of every other set until one agrees, and
    // then joins (so a group of near-copies costs one comparison a member).
    std::vector<std::vector<std::int64_t>> lists;
    return for_each_group(docs, should_stop, [&](std::span<const KeyedDocument> group) {
        lists.clear();
        for (const KeyedDocument& doc : group) {
            const std::int64_t x = doc.index;
            for (const auto& list : lists) {
                if (sets.find(list.front()) == sets.find(x)) continue;
                for (std::int64_t y : list) {
                    if (algo::minhash_signature_similarity(row(x), row(y)) >= threshold) {
                        sets.unite(x, y);
                        break;
                    }
                }
            }
            // x joins the largest list now in its set; the other lists of
            // that set are appended to it (smaller into larger).
            const std::int64_t root = sets.find(x);
            std::size_t target = lists.size();
            for (std::size_t i = 0; i < lists.size(); ++i)
                if (sets.find(lists[i].front()) == root &&
                    (target == lists.size() || lists[i].size() > lists[target].size()))
                    target = i;
            if (target == lists.size()) {
                lists.push_back({x});
                continue;
            }
            lists[target].push_back(x);
            std::size_t kept = 0;
            for (std::size_t i = 0; i < lists.size(); ++i) {
                if (i != target && sets.find(lists[i].front()) == root) {
                    lists[target].insert(lists[target].end(), lists[i].begin(), lists[i].end());
                } else {
                    if (i == target) target = kept;
                    if (kept != i) lists[kept] = std::move(lists[i]);
                    ++kept;
                }
            }
            lists.resize(kept);
        }
    });
}

int simhash_distance_for(double threshold) noexcept {
    int distance = -1;
    // The scalar similarity of two fingerprints that differ in d bits.
    for (int d = 0; d <= 64; ++d) {
        const std::uint64_t differing = d == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << d) - 1;
        if (algo::simhash_fingerprint_similarity(0, differing) >= threshold) distance = d;
    }
    return distance;
}

bool link_simhash(std::span<const std::uint64_t> fingerprints, int max_distance, DisjointSets& sets,
                  const StopCheck& should_stop) {
    const std::size_t n = fingerprints.size();
    if (max_distance < 0 || n == 0) return true;
    if (max_distance >= 64) {
        for (std::size_t i = 1; i < n; ++i) sets.unite(0, static_cast<std::int64_t>(i));
        return true;
    }
    // Equal fingerprints first; the index then holds one of each.
    std::vector<KeyedDocument> docs(n);
    for (std::size_t i = 0; i < n; ++i) docs[i] = {fingerprints[i], static_cast<std::int64_t>(i)};
    std::vector<std::int64_t> representatives;
    std::vector<std::uint64_t> distinct;
    const bool finished = for_each_group(docs, should_stop, [&](std::span<const KeyedDocument> group) {
        for (const KeyedDocument& doc : group.subspan(1)) sets.unite(group[0].index, doc.index);
    });
    if (!finished) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || docs[i].key != docs[i - 1].key) {
            representatives.push_back(docs[i].index);
            distinct.push_back(docs[i].key);
        }
    }
    docs.clear();
    docs.shrink_to_fit();
    SimHashIndex index(static_cast<unsigned>(max_distance));
    (void)index.add(representatives, distinct);
    if (should_stop && should_stop()) return false;
    const auto pairs = index.pairs();
    for (std::size_t k = 0; k < pairs.first.size(); ++k) sets.unite(pairs.first[k], pairs.second[k]);
    return true;
}

}  // namespace vorn::index
