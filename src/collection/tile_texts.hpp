// What the tile dispatcher hands the packed kernels of each instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vorn::collection::tile_detail {

// Texts decoded to scalar values, back to back: text i is
// chars[start[i] .. start[i + 1]). A text that is not well-formed UTF-8
// (the core reads those differently) is marked and keeps no characters.
struct DecodedTexts {
    std::vector<char32_t> chars;
    std::vector<std::size_t> start;
    std::vector<unsigned char> well_formed;
};

DecodedTexts decode_texts(std::span<const std::string_view> texts);

// Choices that fit a lane have 1 to kMaxPackedChars characters.
inline constexpr std::size_t kMaxPackedChars = 64;

// The pairs one packed kernel scores: every listed query against every
// listed choice. Choices are well-formed, fit a lane and come sorted by
// length; queries are well-formed (and, for Jaro-Winkler, fit a lane too).
struct PackedWork {
    const DecodedTexts& queries;
    std::span<const std::uint32_t> query_ids;
    const DecodedTexts& choices;
    std::span<const std::uint32_t> choice_ids;
};

#define VORN_TILE_ENTRY_POINTS(isa)                                                                    \
    void levenshtein_packed_##isa(const PackedWork& work, std::uint64_t* out, std::size_t row_stride, \
                                  std::uint64_t max_distance);                                         \
    void jaro_winkler_packed_##isa(const PackedWork& work, double* out, std::size_t row_stride);
VORN_TILE_ENTRY_POINTS(portable)
VORN_TILE_ENTRY_POINTS(avx2)
VORN_TILE_ENTRY_POINTS(avx512)
#undef VORN_TILE_ENTRY_POINTS

}  // namespace vorn::collection::tile_detail
