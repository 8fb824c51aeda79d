#include "index/minhash_lsh.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace vorn::index {

Expected<std::size_t, KeyProblem> MinHashLsh::add(std::span<const std::int64_t> keys,
                                                  std::span<const std::uint64_t> signatures) {
    auto first = documents_.append(keys);
    if (!first) return first.error();
    const std::size_t bands = settings_.shape.bands, num_hashes = settings_.num_hashes;
    std::vector<std::vector<Entry>> entries(bands, std::vector<Entry>(keys.size()));
    // The keys of a block of signatures are spread over the bands while
    // they are still in cache.
    constexpr std::size_t kBlock = 1024;
    std::vector<std::uint64_t> block_keys(std::min(kBlock, keys.size()) * bands);
    for (std::size_t begin = 0; begin < keys.size(); begin += kBlock) {
        const std::size_t count = std::min(kBlock, keys.size() - begin);
        band_keys(signatures.subspan(begin * num_hashes, count * num_hashes), num_hashes, settings_.shape,
                  std::span(block_keys).first(count * bands));
        for (std::size_t i = 0; i < count; ++i) {
            const auto slot = static_cast<std::uint32_t>(*first + begin + i);
            for (std::size_t band = 0; band < bands; ++band)
                entries[band][begin + i] = {block_keys[i * bands + band], slot};
        }
    }
    for (std::size_t band = 0; band < bands; ++band) bands_[band].insert(std::move(entries[band]));
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

void write_key_pairs(const SlotPairs& pairs, std::span<const std::int64_t> keys_by_slot, std::span<std::int64_t> first,
                     std::span<std::int64_t> second) {
    const std::size_t slots = pairs.offsets.empty() ? 0 : pairs.offsets.size() - 1;
    if (std::is_sorted(keys_by_slot.begin(), keys_by_slot.end())) {
        // Keys rise with slots (added in order): the slot order is the key order.
        for (std::size_t a = 0; a < slots; ++a) {
            for (std::size_t k = pairs.offsets[a]; k < pairs.offsets[a + 1]; ++k) {
                first[k] = keys_by_slot[a];
                second[k] = keys_by_slot[pairs.seconds[k]];
            }
        }
        return;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> key_pairs(pairs.size());
    for (std::size_t a = 0; a < slots; ++a) {
        for (std::size_t k = pairs.offsets[a]; k < pairs.offsets[a + 1]; ++k) {
            const std::int64_t x = keys_by_slot[a], y = keys_by_slot[pairs.seconds[k]];
            key_pairs[k] = x < y ? std::pair{x, y} : std::pair{y, x};
        }
    }
    std::sort(key_pairs.begin(), key_pairs.end());
    for (std::size_t k = 0; k < key_pairs.size(); ++k) first[k] = key_pairs[k].first, second[k] = key_pairs[k].second;
}

namespace {

// Sorts values made of ascending runs starting at run_starts (the first at
// 0) by merging neighbouring runs, log2(runs) passes.
void merge_runs(std::span<std::uint32_t> values, std::vector<std::size_t>& run_starts,
                std::vector<std::uint32_t>& scratch) {
    scratch.resize(values.size());
    run_starts.push_back(values.size());
    while (run_starts.size() > 2) {
        std::size_t merged = 0;
        for (std::size_t r = 0; r + 1 < run_starts.size(); r += 2) {
            const std::size_t begin = run_starts[r], middle = run_starts[r + 1];
            const std::size_t end = r + 2 < run_starts.size() ? run_starts[r + 2] : middle;
            std::merge(values.begin() + begin, values.begin() + middle, values.begin() + middle, values.begin() + end,
                       scratch.begin() + begin);
            run_starts[merged++] = begin;
        }
        run_starts[merged++] = values.size();
        run_starts.resize(merged);
        std::copy(scratch.begin(), scratch.begin() + values.size(), values.begin());
    }
}

}  // namespace

SlotPairs MinHashLsh::candidate_slot_pairs() {
    // The buckets of two or more live documents, their slots ascending:
    // members[bucket_end[g - 1] .. bucket_end[g]).
    std::vector<std::uint32_t> members;
    std::vector<std::size_t> bucket_end{0};
    for (EntryTable& table : bands_) {
        table.consolidate();
        const auto entries = table.sorted();
        for (std::size_t start = 0; start < entries.size();) {
            std::size_t end = start + 1;
            while (end < entries.size() && entries[end].key == entries[start].key) ++end;
            for (std::size_t i = start; i < end; ++i)
                if (documents_.alive(entries[i].slot)) members.push_back(entries[i].slot);
            if (members.size() - bucket_end.back() >= 2) bucket_end.push_back(members.size());
            else members.resize(bucket_end.back());
            start = end;
        }
    }
    // Every slot's partners after it in each of its buckets, grouped by slot
    // (a counting sort): a pair found in several bands is there as often.
    const std::size_t slots = documents_.slot_count();
    SlotPairs out;
    out.offsets.assign(slots + 1, 0);
    for (std::size_t g = 1; g < bucket_end.size(); ++g)
        for (std::size_t i = bucket_end[g - 1]; i < bucket_end[g]; ++i)
            out.offsets[members[i] + 1] += bucket_end[g] - i - 1;
    for (std::size_t a = 0; a < slots; ++a) out.offsets[a + 1] += out.offsets[a];
    std::vector<std::size_t> cursor(out.offsets.begin(), out.offsets.end() - 1);
    out.seconds.resize(out.offsets[slots]);
    for (std::size_t g = 1; g < bucket_end.size(); ++g) {
        for (std::size_t i = bucket_end[g - 1]; i < bucket_end[g]; ++i) {
            std::uint32_t* to = out.seconds.data() + cursor[members[i]];
            to = std::copy(members.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           members.begin() + static_cast<std::ptrdiff_t>(bucket_end[g]), to);
            cursor[members[i]] = static_cast<std::size_t>(to - out.seconds.data());
        }
    }
    // Each slot's partners once, ascending, compacted in place. Its
    // partners are ascending runs, one per band, and stay so when repeats
    // are dropped; the runs are then merged.
    std::vector<std::uint32_t> seen_by(slots, std::numeric_limits<std::uint32_t>::max()), scratch;
    std::vector<std::size_t> run_starts;
    std::size_t kept = 0;
    for (std::size_t a = 0; a < slots; ++a) {
        const std::size_t begin = out.offsets[a], end = out.offsets[a + 1], first_kept = kept;
        out.offsets[a] = kept;
        run_starts.assign(1, 0);
        for (std::size_t k = begin; k < end; ++k) {
            const std::uint32_t b = out.seconds[k];
            if (seen_by[b] == a) continue;
            seen_by[b] = static_cast<std::uint32_t>(a);
            if (kept > first_kept && out.seconds[kept - 1] > b) run_starts.push_back(kept - first_kept);
            out.seconds[kept++] = b;
        }
        if (run_starts.size() > 1)
            merge_runs({out.seconds.data() + first_kept, kept - first_kept}, run_starts, scratch);
    }
    out.offsets[slots] = kept;
    out.seconds.resize(kept);
    return out;
}

KeyPairs MinHashLsh::candidate_pairs() {
    const SlotPairs pairs = candidate_slot_pairs();
    KeyPairs out;
    out.first.resize(pairs.size());
    out.second.resize(pairs.size());
    write_key_pairs(pairs, documents_.keys(), out.first, out.second);
    return out;
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
    lsh.loaded_file_ = std::move(file->loaded);
    return lsh;
}

}  // namespace vorn::index
