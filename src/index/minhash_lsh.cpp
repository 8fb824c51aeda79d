#include "index/minhash_lsh.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace vorn::index {

Expected<std::size_t, KeyProblem> MinHashLsh::add(std::span<const std::int64_t> keys,
                                                  std::span<const std::uint64_t> signatures) {
    auto first = documents_.append(keys);
    if (!first) return first.error();
    const std::size_t bands = settings_.shape.bands;
    std::vector<std::uint64_t> band_key_rows(keys.size() * bands);
    band_keys(signatures, settings_.num_hashes, settings_.shape, band_key_rows);
    for (std::size_t band = 0; band < bands; ++band) {
        std::vector<Entry> entries(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            entries[i] = {band_key_rows[i * bands + band], static_cast<std::uint32_t>(*first + i)};
        bands_[band].insert(std::move(entries));
    }
    return keys.size();
}

Expected<std::size_t, KeyProblem> MinHashLsh::remove(std::span<const std::int64_t> keys) {
    auto removed = documents_.remove(keys);
    if (removed) compact_if_worthwhile();
    return removed;
}

void MinHashLsh::compact_if_worthwhile() {
    if (!documents_.wants_compaction()) return;
    const auto new_slot = documents_.compact();
    for (EntryTable& table : bands_) table.renumber(new_slot);
}

bool MinHashLsh::contains(std::int64_t key) const { return documents_.slot_of(key) >= 0; }

std::vector<std::int64_t> MinHashLsh::query(std::span<const std::uint64_t> signature) const {
    std::vector<std::uint32_t> slots;
    for (std::size_t band = 0; band < bands_.size(); ++band) {
        const std::size_t rows = settings_.shape.rows;
        const std::uint64_t key = band_key(signature.subspan(band * rows, rows), band);
        bands_[band].for_each_in(key, key, [&](const Entry& e) {
            if (documents_.alive(e.slot)) slots.push_back(e.slot);
        });
    }
    std::vector<std::int64_t> keys(slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) keys[i] = documents_.key(slots[i]);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

KeyPairs key_pairs_of(std::vector<std::uint64_t>& slot_pairs, std::span<const std::int64_t> keys_by_slot) {
    const auto slot_bits = pair_slot_bits(keys_by_slot.size());
    const std::uint64_t low_slot = (std::uint64_t{1} << slot_bits) - 1;
    if (!slot_pairs.empty()) radix_sort(slot_pairs, 2 * slot_bits, [](std::uint64_t v) { return v; });
    slot_pairs.erase(std::unique(slot_pairs.begin(), slot_pairs.end()), slot_pairs.end());
    KeyPairs out;
    if (std::is_sorted(keys_by_slot.begin(), keys_by_slot.end())) {
        // Keys rise with slots (added in order): the slot order is the key order.
        out.first.resize(slot_pairs.size());
        out.second.resize(slot_pairs.size());
        for (std::size_t i = 0; i < slot_pairs.size(); ++i) {
            out.first[i] = keys_by_slot[slot_pairs[i] >> slot_bits];
            out.second[i] = keys_by_slot[slot_pairs[i] & low_slot];
        }
        return out;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs(slot_pairs.size());
    for (std::size_t i = 0; i < slot_pairs.size(); ++i) {
        std::int64_t a = keys_by_slot[slot_pairs[i] >> slot_bits], b = keys_by_slot[slot_pairs[i] & low_slot];
        pairs[i] = a < b ? std::pair{a, b} : std::pair{b, a};
    }
    slot_pairs.clear();
    slot_pairs.shrink_to_fit();
    std::sort(pairs.begin(), pairs.end());
    out.first.resize(pairs.size());
    out.second.resize(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) out.first[i] = pairs[i].first, out.second[i] = pairs[i].second;
    return out;
}

KeyPairs MinHashLsh::candidate_pairs() {
    std::vector<std::uint64_t> slot_pairs;
    std::vector<std::uint32_t> group;
    const unsigned slot_bits = pair_slot_bits(documents_.slot_count());
    for (EntryTable& table : bands_) {
        table.consolidate();
        const auto entries = table.sorted();
        for (std::size_t start = 0; start < entries.size();) {
            std::size_t end = start + 1;
            while (end < entries.size() && entries[end].key == entries[start].key) ++end;
            group.clear();
            for (std::size_t i = start; i < end; ++i)
                if (documents_.alive(entries[i].slot)) group.push_back(entries[i].slot);
            for (std::size_t a = 0; a < group.size(); ++a)
                for (std::size_t b = a + 1; b < group.size(); ++b)
                    slot_pairs.push_back(std::uint64_t{group[a]} << slot_bits | group[b]);
            start = end;
        }
    }
    return key_pairs_of(slot_pairs, documents_.keys());
}

Expected<std::size_t, FileProblem> MinHashLsh::save(const std::string& path) {
    if (documents_.live_count() != documents_.slot_count()) {
        const auto new_slot = documents_.compact();
        for (EntryTable& table : bands_) table.renumber(new_slot);
    }
    std::vector<std::span<const std::byte>> sections;
    sections.push_back(std::as_bytes(documents_.keys()));
    for (EntryTable& table : bands_) {
        table.consolidate();
        sections.push_back(std::as_bytes(table.sorted()));
    }
    IndexHeader header{IndexKind::kMinHashLsh, documents_.live_count(), {}};
    header.params = {std::bit_cast<std::uint64_t>(settings_.threshold),
                     settings_.num_hashes,
                     settings_.shape.bands,
                     settings_.shape.rows,
                     std::bit_cast<std::uint64_t>(settings_.fp_weight),
                     std::bit_cast<std::uint64_t>(settings_.fn_weight),
                     0,
                     0};
    return write_index_file(path, header, sections);
}

Expected<MinHashLsh, FileProblem> MinHashLsh::load(const std::string& path) {
    auto file = read_index_file(path, IndexKind::kMinHashLsh);
    if (!file) return file.error();
    const auto& p = file->header.params;
    const std::uint64_t bands = p[2];
    if (file->sections.size() != 1 + bands) return kMalformed;
    const LshSettings settings{
        std::bit_cast<double>(p[0]), p[1], {p[2], p[3]}, std::bit_cast<double>(p[4]), std::bit_cast<double>(p[5])};
    if (!(settings.threshold >= 0.0 && settings.threshold <= 1.0) || !check_band_shape(p[2], p[3], p[1]) ||
        !(std::isfinite(settings.fp_weight) && std::isfinite(settings.fn_weight)) || p[6] != 0 || p[7] != 0)
        return kMalformed;
    const std::size_t n = file->header.documents;
    MinHashLsh lsh(settings);
    std::span<const std::int64_t> keys;
    if (!section_as(file->sections[0], n, keys) || !lsh.documents_.adopt(keys)) return kMalformed;
    std::vector<std::uint8_t> seen(n);
    for (std::size_t band = 0; band < bands; ++band) {
        std::span<const Entry> entries;
        if (!section_as(file->sections[1 + band], n, entries)) return kMalformed;
        // Sorted, and every slot exactly once.
        std::fill(seen.begin(), seen.end(), 0);
        for (std::size_t i = 0; i < n; ++i) {
            if (entries[i].slot >= n || seen[entries[i].slot]++ || (i > 0 && !(entries[i - 1] < entries[i])))
                return kMalformed;
        }
        lsh.bands_[band].adopt(entries);
    }
    lsh.mapping_ = std::move(file->mapping);
    return lsh;
}

}  // namespace vorn::index
