// Connected components by union-find, and the linking steps of
// near-duplicate detection.
//
// Every root is the smallest index of its set (a union makes the smaller
// root the parent), so the labels are the same whatever the order of the
// unions: the components alone decide them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "error/vorn_error.hpp"

namespace vorn::index {

// Union-find over caller-owned parents (int64, so that NumPy can hold
// them between steps).
class DisjointSets {
public:
    explicit DisjointSets(std::span<std::int64_t> parent) noexcept : parent_(parent) {}
    static void reset(std::span<std::int64_t> parent) noexcept;
    // Parents must lie in [0, n) and never above their child, as reset()
    // and unite() leave them.
    static bool valid(std::span<const std::int64_t> parent) noexcept;

    std::int64_t find(std::int64_t x) noexcept;
    // True when the two were in different sets.
    bool unite(std::int64_t a, std::int64_t b) noexcept;
    // label[i] = smallest member of i's set.
    void labels(std::span<std::int64_t> out) noexcept;

private:
    std::span<std::int64_t> parent_;
};

// Labels of the graph on n nodes with edges (first[k], second[k]).
// Refuses an endpoint outside [0, n).
Expected<std::size_t, InvalidArgument> connected_components(std::span<const std::int64_t> first,
                                                            std::span<const std::int64_t> second,
                                                            std::span<std::int64_t> labels);

using StopCheck = std::function<bool()>;

// Unites documents whose whole signatures are equal (num_hashes values
// each, row by row). Returns false when should_stop said so.
bool link_identical_signatures(std::span<const std::uint64_t> signatures, std::size_t num_hashes, DisjointSets& sets,
                               const StopCheck& should_stop);

// Within every group of documents sharing the key of band `band`
// (keys row by row, `bands` per document), unites each pair whose
// signature agreement (the scalar minhash similarity) is at least
// `threshold`. Documents with active[i] == 0 are left out: they duplicate
// a representative exactly. Pairs already in one set are not compared.
bool link_band(std::span<const std::uint64_t> band_key_rows, std::size_t bands, std::size_t band,
               std::span<const std::uint8_t> active, std::span<const std::uint64_t> signatures, std::size_t num_hashes,
               double threshold, DisjointSets& sets, const StopCheck& should_stop);

// Largest Hamming distance d with 1 - d / 64 (the scalar simhash
// similarity) at least threshold (64 at most); -1 when not even 0 does.
int simhash_distance_for(double threshold) noexcept;

// Unites every pair of fingerprints within max_distance bits.
bool link_simhash(std::span<const std::uint64_t> fingerprints, int max_distance, DisjointSets& sets,
                  const StopCheck& should_stop);

}  // namespace vorn::index
