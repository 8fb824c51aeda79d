// What the tile dispatcher hands the packed kernels of each instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace vorn::collection::tile_detail {

// Texts decoded to scalar values as the core walks them, back to back:
// text i is chars[start[i] .. start[i + 1]). A text that is not
// well-formed (every lead byte followed by exactly the continuation bytes
// it announces, no stray continuation byte) keeps no characters: the core
// may read pieces of it byte by byte, so only its pairwise functions give
// its scores.
struct DecodedTexts {
    std::vector<char32_t> chars;
    std::vector<std::size_t> start;
    std::vector<unsigned char> well_formed;
};

DecodedTexts decode_texts(std::span<const std::string_view> texts);

// A view of texts already decoded to code points, back to back: text i is
// chars[start[i] .. start[i + 1]) (start holds size + 1 offsets).
struct CodePointTexts {
    const char32_t* chars = nullptr;
    const std::size_t* start = nullptr;
    std::size_t size = 0;

    std::u32string_view operator[](std::size_t i) const noexcept { return {chars + start[i], start[i + 1] - start[i]}; }
    CodePointTexts slice(std::size_t begin, std::size_t end) const noexcept {
        return {chars, start + begin, end - begin};
    }
};

// Whether a text is well-formed in the sense above.
bool is_well_formed(std::string_view text) noexcept;

// Texts that fit a lane have 1 to kMaxPackedChars characters.
inline constexpr std::size_t kMaxPackedChars = 64;

// The choices that fit a lane, packed into the lane groups of one
// instruction set, scored against queries: every listed query (for
// Jaro-Winkler, fitting a lane) against every packed choice, into
// out[q * row_stride + c].
class PackedChoices {
public:
    virtual ~PackedChoices();
    virtual void levenshtein(const DecodedTexts& queries, std::span<const std::uint32_t> query_ids, std::uint64_t* out,
                             std::size_t row_stride, std::uint64_t max_distance) const = 0;
    virtual void jaro_winkler(const DecodedTexts& queries, std::span<const std::uint32_t> query_ids, double* out,
                              std::size_t row_stride) const = 0;
    // Lengths of the longest common subsequences, every listed query (any
    // length) against every packed choice.
    virtual void lcs_seq(const CodePointTexts& queries, std::span<const std::uint32_t> query_ids, std::uint64_t* out,
                         std::size_t row_stride) const = 0;
};

// One per instruction set; `ids` are sorted by length.
std::unique_ptr<PackedChoices> pack_choices_portable(const DecodedTexts& choices, std::span<const std::uint32_t> ids);
std::unique_ptr<PackedChoices> pack_choices_avx2(const DecodedTexts& choices, std::span<const std::uint32_t> ids);
std::unique_ptr<PackedChoices> pack_choices_avx512(const DecodedTexts& choices, std::span<const std::uint32_t> ids);

// A distance under the bound max_distance: one above it is reported as
// max_distance + 1, saturating at the largest value.
constexpr std::uint64_t beyond_bound(std::uint64_t max_distance) noexcept {
    return max_distance == UINT64_MAX ? max_distance : max_distance + 1;
}
constexpr std::uint64_t bounded_distance(std::uint64_t distance, std::uint64_t max_distance) noexcept {
    return distance <= max_distance ? distance : beyond_bound(max_distance);
}

// The distance of one aligned pair through the core's pairwise functions
// (the pairs the pairwise kernels leave, and the portable path); above
// max_distance it is max_distance + 1 (saturating).
std::uint64_t core_pair_distance(std::string_view a, std::string_view b, std::uint64_t max_distance);

// Distances of the aligned pairs a[i], b[i] into out[i], as
// core_pair_distance gives them; one per instruction set with a compare.
void levenshtein_pairs_avx2(std::span<const std::string_view> a, std::span<const std::string_view> b,
                            std::uint64_t* out, std::uint64_t max_distance);
void levenshtein_pairs_avx512(std::span<const std::string_view> a, std::span<const std::string_view> b,
                              std::uint64_t* out, std::uint64_t max_distance);

}  // namespace vorn::collection::tile_detail
