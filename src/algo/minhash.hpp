// MinHash signatures over the set of distinct character shingles, and the
// fraction of equal positions of two signatures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory_resource>
#include <span>
#include <string_view>
#include <vector>

#include "error/vorn_error.hpp"
#include "support/flat_hash_table.hpp"

namespace vorn::algo {

// Working memory of minhash_signature_into, kept from one text to the next:
// once it has served the longest text, signing another allocates nothing.
// One per thread.
class MinHashScratch {
public:
    explicit MinHashScratch(std::pmr::memory_resource* memory = std::pmr::new_delete_resource())
        : seen_(0, {}, {}, memory),
          seen_narrow_(0, {}, {}, memory),
          seen_short_ascii_(memory),
          window_codes_(memory),
          distinct_(memory) {}

    // The FNV-1a values of the text's distinct shingles, each at least once
    // (two shingles with one hash may give it twice), valid until the next
    // call; kZeroWindow when shingle_size is 0.
    Expected<std::span<const std::uint64_t>, InvalidArgument> distinct_shingle_hashes(std::string_view text,
                                                                                      std::uint64_t shingle_size);

private:
    template <class Key>
    using Set =
        support::FlatHashSet<Key, support::IntegerHash, std::equal_to<>, 0, std::pmr::polymorphic_allocator<std::byte>>;
    Set<std::uint64_t> seen_;
    Set<std::uint32_t> seen_narrow_;  // ASCII shingles of up to 4 bytes, packed
    // ASCII shingles of up to 3 characters, 7 bits each, index a bitmap of
    // 2^21 bits (256 KiB) directly: cheaper than any hashing. Each text
    // clears the bits it set. Made once the scratch has served enough such
    // text to repay making it, so that a few short texts never pay for it.
    std::pmr::vector<std::uint64_t> seen_short_ascii_;
    std::size_t short_shingle_bytes_ = 0;
    std::pmr::vector<std::uint32_t> window_codes_;
    std::pmr::vector<std::uint64_t> distinct_;
};

// Element i is the least (a_i * h + b_i mod 2^64) mod (2^61 - 1) over the
// FNV-1a hashes h of the distinct shingles of size k. kZeroWindow when k
// is 0 (checked before anything is allocated); std::bad_alloc, before
// anything is allocated, when the signature is larger than the memory this
// process can have (support::fits_in_memory).
Expected<std::vector<std::uint64_t>, InvalidArgument> minhash_signature(std::string_view text,
                                                                        std::uint64_t shingle_size,
                                                                        std::uint64_t num_hashes);

// The batch entry point: the signature of `text` with out.size() hashes,
// written into `out`, exactly as minhash_signature computes it. Returns the
// number of shingle hashes it took (at least 1: the distinct shingles, give
// or take hash collisions), or kZeroWindow with `out` untouched.
Expected<std::size_t, InvalidArgument> minhash_signature_into(std::string_view text, std::uint64_t shingle_size,
                                                              std::span<std::uint64_t> out, MinHashScratch& scratch);

// Equal positions among the first min(len a, len b) divided by that count;
// NaN when it is 0.
double minhash_signature_similarity(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept;

// Signature of a, then of b, then their similarity.
Expected<double, InvalidArgument> minhash_similarity(std::string_view a, std::string_view b, std::uint64_t shingle_size,
                                                     std::uint64_t num_hashes);

}  // namespace vorn::algo
