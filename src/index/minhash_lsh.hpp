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
    std::span<const std::int64_t> keys() const noexcept { return documents_.keys(); }  // by slot, live or not
    bool alive(std::uint32_t slot) const noexcept { return documents_.alive(slot); }

    Expected<std::size_t, FileProblem> save(const std::string& path);
    static Expected<MinHashLsh, FileProblem> load(const std::string& path);

private:
    void compact_if_worthwhile();

    LshSettings settings_;
    Documents documents_;
    std::vector<EntryTable> bands_;
    std::shared_ptr<const MappedFile> mapping_;
};

// Bits of a slot in a packed pair of slots below `slots`.
inline unsigned pair_slot_bits(std::size_t slots) noexcept {
    return std::max(1u, static_cast<unsigned>(std::bit_width(slots)));
}

// Sorts slot pairs (packed low << pair_slot_bits | high), drops repeats and
// maps them to key pairs in increasing order.
KeyPairs key_pairs_of(std::vector<std::uint64_t>& slot_pairs, std::span<const std::int64_t> keys_by_slot);

}  // namespace vorn::index
