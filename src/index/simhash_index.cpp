#include "index/simhash_index.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace vorn::index {

SimHashIndex::SimHashIndex(unsigned max_distance)
    : max_distance_(max_distance), blocks_(max_distance + 1), tables_(max_distance + 1) {
    unsigned low = 0;
    for (unsigned block = 0; block < blocks_; ++block) {
        const unsigned width = 64 / blocks_ + (block < 64 % blocks_ ? 1 : 0);
        const unsigned high = low + width;
        block_mask_[block] = (width == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << width) - 1)) << low;
        rotation_[block] = (64 - high) & 63;
        low_mask_[block] = width == 64 ? 0 : ~std::uint64_t{0} >> width;
        low = high;
    }
}

std::uint64_t SimHashIndex::table_key(std::uint64_t fingerprint, unsigned block) const noexcept {
    return std::rotl(fingerprint, static_cast<int>(rotation_[block]));
}

std::uint64_t SimHashIndex::fingerprint_of(std::uint64_t key, unsigned block) const noexcept {
    return std::rotr(key, static_cast<int>(rotation_[block]));
}

unsigned SimHashIndex::first_equal_block(std::uint64_t difference) const noexcept {
    unsigned block = 0;
    while (block < blocks_ && (difference & block_mask_[block]) != 0) ++block;
    return block;
}

Expected<std::size_t, KeyProblem> SimHashIndex::add(std::span<const std::int64_t> keys,
                                                    std::span<const std::uint64_t> fingerprints) {
    auto first = documents_.append(keys);
    if (!first) return first.error();
    std::vector<std::uint64_t>& owned = fingerprints_.owned();
    owned.insert(owned.end(), fingerprints.begin(), fingerprints.end());
    fingerprints_.sync();
    for (unsigned block = 0; block < blocks_; ++block) {
        std::vector<Entry> entries(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            entries[i] = {table_key(fingerprints[i], block), static_cast<std::uint32_t>(*first + i)};
        tables_[block].insert(std::move(entries));
    }
    return keys.size();
}

void SimHashIndex::compact() {
    const auto new_slot = documents_.compact();
    std::vector<std::uint64_t> kept;
    kept.reserve(documents_.live_count());
    for (std::size_t slot = 0; slot < new_slot.size(); ++slot)
        if (new_slot[slot] != EntryTable::kDropped) kept.push_back(fingerprints_[slot]);
    fingerprints_.replace(std::move(kept));
    for (EntryTable& table : tables_) table.renumber(new_slot);
}

Expected<std::size_t, KeyProblem> SimHashIndex::remove(std::span<const std::int64_t> keys) {
    auto removed = documents_.remove(keys);
    if (removed && documents_.wants_compaction()) compact();
    return removed;
}

void SimHashIndex::find(std::uint64_t fingerprint, std::vector<std::pair<std::int64_t, std::uint8_t>>& found) const {
    for (unsigned block = 0; block < blocks_; ++block) {
        const std::uint64_t lo = table_key(fingerprint, block) & ~low_mask_[block];
        // The entry's key is the rotated fingerprint itself: no lookup
        // until a candidate is within reach.
        tables_[block].for_each_in(lo, lo | low_mask_[block], [&](const Entry& e) {
            const std::uint64_t difference = fingerprint_of(e.key, block) ^ fingerprint;
            const auto distance = static_cast<unsigned>(std::popcount(difference));
            if (distance <= max_distance_ && first_equal_block(difference) == block && documents_.alive(e.slot))
                found.emplace_back(documents_.key(e.slot), static_cast<std::uint8_t>(distance));
        });
    }
    std::sort(found.begin(), found.end());
}

KeyMatches SimHashIndex::query(std::uint64_t fingerprint) const {
    std::vector<std::int64_t> query_index;
    KeyMatches out;
    query_many({&fingerprint, 1}, query_index, out);
    return out;
}

void SimHashIndex::query_many(std::span<const std::uint64_t> fingerprints, std::vector<std::int64_t>& query_index,
                              KeyMatches& out) const {
    std::vector<std::pair<std::int64_t, std::uint8_t>> found;
    for (std::size_t q = 0; q < fingerprints.size(); ++q) {
        found.clear();
        find(fingerprints[q], found);
        for (const auto& [key, distance] : found) {
            query_index.push_back(static_cast<std::int64_t>(q));
            out.keys.push_back(key);
            out.distances.push_back(distance);
        }
    }
}

KeyPairsWithDistance SimHashIndex::pairs() {
    struct Found {
        std::int64_t first, second;
        std::uint8_t distance;
        bool operator<(const Found& o) const noexcept { return first != o.first ? first < o.first : second < o.second; }
    };
    std::vector<Found> found;
    for (unsigned block = 0; block < blocks_; ++block) {
        EntryTable& table = tables_[block];
        table.consolidate();
        const auto entries = table.sorted();
        const std::uint64_t prefix = ~low_mask_[block];
        for (std::size_t start = 0; start < entries.size();) {
            std::size_t end = start + 1;
            while (end < entries.size() && ((entries[end].key ^ entries[start].key) & prefix) == 0) ++end;
            for (std::size_t a = start; a < end; ++a) {
                const std::uint32_t slot_a = entries[a].slot;
                if (!documents_.alive(slot_a)) continue;
                for (std::size_t b = a + 1; b < end; ++b) {
                    const std::uint32_t slot_b = entries[b].slot;
                    const std::uint64_t difference = fingerprint_of(entries[a].key ^ entries[b].key, block);
                    const auto distance = static_cast<unsigned>(std::popcount(difference));
                    if (distance > max_distance_ || !documents_.alive(slot_b) || first_equal_block(difference) != block)
                        continue;
                    const std::int64_t ka = documents_.key(slot_a), kb = documents_.key(slot_b);
                    found.push_back({std::min(ka, kb), std::max(ka, kb), static_cast<std::uint8_t>(distance)});
                }
            }
            start = end;
        }
    }
    std::sort(found.begin(), found.end());
    KeyPairsWithDistance out;
    out.first.reserve(found.size());
    out.second.reserve(found.size());
    out.distances.reserve(found.size());
    for (const Found& f : found) {
        out.first.push_back(f.first);
        out.second.push_back(f.second);
        out.distances.push_back(f.distance);
    }
    return out;
}

Expected<std::size_t, FileProblem> SimHashIndex::save(const std::string& path) {
    if (documents_.live_count() != documents_.slot_count()) compact();
    std::vector<std::span<const std::byte>> sections;
    sections.push_back(std::as_bytes(documents_.keys()));
    sections.push_back(std::as_bytes(fingerprints_.view()));
    for (EntryTable& table : tables_) {
        table.consolidate();
        sections.push_back(std::as_bytes(table.sorted()));
    }
    IndexHeader header{IndexKind::kSimHash, documents_.live_count(), {max_distance_, blocks_, 0, 0, 0, 0, 0, 0}};
    return write_index_file(path, header, sections);
}

Expected<SimHashIndex, FileProblem> SimHashIndex::load(const std::string& path) {
    auto file = read_index_file(path, IndexKind::kSimHash);
    if (!file) return file.error();
    const auto& p = file->header.params;
    if (p[0] > kMaxSimHashDistance || p[1] != p[0] + 1 || file->sections.size() != 2 + p[1] ||
        std::any_of(p.begin() + 2, p.end(), [](std::uint64_t v) { return v != 0; }))
        return kMalformed;
    const std::size_t n = file->header.documents;
    SimHashIndex index(static_cast<unsigned>(p[0]));
    std::span<const std::int64_t> keys;
    std::span<const std::uint64_t> fingerprints;
    if (!section_as(file->sections[0], n, keys) || !section_as(file->sections[1], n, fingerprints) ||
        !index.documents_.adopt(keys))
        return kMalformed;
    index.fingerprints_.adopt(fingerprints);
    std::vector<std::uint8_t> seen(n);
    for (unsigned block = 0; block < index.blocks_; ++block) {
        std::span<const Entry> entries;
        if (!section_as(file->sections[2 + block], n, entries)) return kMalformed;
        // Sorted, every slot exactly once, each under its own fingerprint.
        std::fill(seen.begin(), seen.end(), 0);
        for (std::size_t i = 0; i < n; ++i) {
            const Entry& e = entries[i];
            if (e.slot >= n || seen[e.slot]++ || e.key != index.table_key(fingerprints[e.slot], block) ||
                (i > 0 && !(entries[i - 1] < e)))
                return kMalformed;
        }
        index.tables_[block].adopt(entries);
    }
    index.loaded_file_ = std::move(file->loaded);
    return index;
}

}  // namespace vorn::index
