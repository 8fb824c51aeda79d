// An index of MinHash signatures by band keys: documents that share the
// key of at least one band are candidates.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "index/documents.hpp"
#include "index/entry_table.hpp"
#include "index/index_file.hpp"
#include "index/lsh.hpp"

namespace vorn::index {

struct LshSettings {
    double threshold;
    std::uint64_t num_hashes;
    BandShape shape;
    double fp_weight;
    double fn_weight;
};

// Pairs of keys, first < second, in increasing order.
struct KeyPairs {
    std::vector<std::int64_t> first;
    std::vector<std::int64_t> second;
};

// Pairs of slots a < b, grouped by a: the partners of slot a are
// seconds[offsets[a] .. offsets[a + 1]), ascending, each once.
struct SlotPairs {
    std::vector<std::size_t> offsets;
    std::vector<std::uint32_t> seconds;
    std::size_t size() const noexcept { return seconds.size(); }
};

// Writes slot pairs as key pairs (first < second) in increasing order;
// first and second hold pairs.size() values each.
void write_key_pairs(const SlotPairs& pairs, std::span<const std::int64_t> keys_by_slot, std::span<std::int64_t> first,
                     std::span<std::int64_t> second);

class MinHashLsh {
public:
    // The shape must fit num_hashes (check_band_shape).
    explicit MinHashLsh(const LshSettings& settings) : settings_(settings), bands_(settings.shape.bands) {}

    const LshSettings& settings() const noexcept { return settings_; }
    std::size_t size() const noexcept { return documents_.live_count(); }

    // Signatures row by row, num_hashes values each, one per key.
    Expected<std::size_t, KeyProblem> add(std::span<const std::int64_t> keys,
                                          std::span<const std::uint64_t> signatures);
    Expected<std::size_t, KeyProblem> remove(std::span<const std::int64_t> keys);
    bool contains(std::int64_t key) const;

    // Keys of the documents sharing a band key with the signature, ascending.
    std::vector<std::int64_t> query(std::span<const std::uint64_t> signature) const;
    // Every pair of documents sharing a band key, once each.
    KeyPairs candidate_pairs();
    SlotPairs candidate_slot_pairs();
    std::span<const std::int64_t> keys() const noexcept { return documents_.keys(); }  // by slot, live or not
    bool alive(std::uint32_t slot) const noexcept { return documents_.alive(slot); }

    Expected<std::size_t, FileProblem> save(const std::string& path);
    static Expected<MinHashLsh, FileProblem> load(const std::string& path);

private:
    void compact_if_worthwhile();

    LshSettings settings_;
    Documents documents_;
    std::vector<EntryTable> bands_;
    std::shared_ptr<const LoadedFile> loaded_file_;  // the loaded file, when views point into it
};

}  // namespace vorn::index
