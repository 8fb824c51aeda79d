// An exact index of 64-bit SimHash fingerprints by Hamming distance.
//
// The 64 bits are cut into max_distance + 1 contiguous blocks. Two
// fingerprints within max_distance bits agree exactly on at least one
// block (pigeonhole), so table t holds every fingerprint rotated to put
// block t in the top bits, sorted; a query looks up the run that shares
// each block and checks the distance. A match is reported only from the
// first block it agrees on, so nothing is reported twice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/documents.hpp"
#include "index/entry_table.hpp"
#include "index/index_file.hpp"

namespace vorn::index {

inline constexpr unsigned kMaxSimHashDistance = 63;

struct KeyMatches {
    std::vector<std::int64_t> keys;
    std::vector<std::uint8_t> distances;
};

struct KeyPairsWithDistance {
    std::vector<std::int64_t> first;
    std::vector<std::int64_t> second;
    std::vector<std::uint8_t> distances;
};

class SimHashIndex {
public:
    // max_distance at most kMaxSimHashDistance.
    explicit SimHashIndex(unsigned max_distance);

    unsigned max_distance() const noexcept { return max_distance_; }
    std::size_t size() const noexcept { return documents_.live_count(); }

    Expected<std::size_t, KeyProblem> add(std::span<const std::int64_t> keys,
                                          std::span<const std::uint64_t> fingerprints);
    Expected<std::size_t, KeyProblem> remove(std::span<const std::int64_t> keys);
    bool contains(std::int64_t key) const { return documents_.slot_of(key) >= 0; }

    // Documents within max_distance bits, by ascending key.
    KeyMatches query(std::uint64_t fingerprint) const;
    // Appends the matches of each fingerprint, by query, then key.
    void query_many(std::span<const std::uint64_t> fingerprints, std::vector<std::int64_t>& query_index,
                    KeyMatches& out) const;
    // Every pair within max_distance bits, once, first < second, ascending.
    KeyPairsWithDistance pairs();

    Expected<std::size_t, FileProblem> save(const std::string& path);
    static Expected<SimHashIndex, FileProblem> load(const std::string& path);

private:
    std::uint64_t table_key(std::uint64_t fingerprint, unsigned block) const noexcept;
    std::uint64_t fingerprint_of(std::uint64_t key, unsigned block) const noexcept;
    // Matches of one fingerprint, unsorted, into `found`.
    void find(std::uint64_t fingerprint, std::vector<std::pair<std::int64_t, std::uint8_t>>& found) const;
    // First block on which two fingerprints agree (the table that reports them).
    unsigned first_equal_block(std::uint64_t difference) const noexcept;
    void compact();

    unsigned max_distance_;
    unsigned blocks_;
    std::array<std::uint64_t, 64> block_mask_{};
    std::array<unsigned, 64> rotation_{};
    std::array<std::uint64_t, 64> low_mask_{};  // bits below the block once rotated
    Documents documents_;
    Column<std::uint64_t> fingerprints_;  // by slot
    std::vector<EntryTable> tables_;
    std::shared_ptr<const LoadedFile> loaded_file_;  // the loaded file, when views point into it
};

}  // namespace vorn::index
