// MinHash signatures and SimHash fingerprints of many texts, written into
// caller-owned rows; each equals the scalar function's result for its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "error/vorn_error.hpp"

namespace vorn::index {

// Rows [begin, end) of `out` (num_hashes values per text) for texts
// [begin, end). kZeroWindow when shingle_size is 0.
Expected<std::size_t, InvalidArgument> minhash_signature_rows(std::span<const std::string_view> texts,
                                                              std::size_t begin, std::size_t end,
                                                              std::uint64_t shingle_size, std::uint64_t num_hashes,
                                                              std::span<std::uint64_t> out);

// out[i] for texts [begin, end).
Expected<std::size_t, InvalidArgument> simhash_fingerprint_rows(std::span<const std::string_view> texts,
                                                                std::size_t begin, std::size_t end,
                                                                std::uint64_t shingle_size,
                                                                std::span<std::uint64_t> out);

}  // namespace vorn::index
