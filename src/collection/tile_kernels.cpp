// Tile dispatch: decodes both blocks once, hands the pairs whose choice
// fits a lane to the packed kernel of the chosen instruction set, and
// scores the other pairs one by one through the core functions.
#include "collection/tile_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "algo/block_masks.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "collection/tile_texts.hpp"
#include "text/utf8.hpp"

// The portable kernels: one 64-bit lane per plain machine word.
#include "collection/tile_lanes.hpp"

namespace vorn::collection {
namespace tile_detail {
namespace {

template <std::size_t W>
struct PortableLanes {
    static_assert(W == 64);
    using V = std::uint64_t;
    static constexpr std::size_t kRegisterBits = 64;
    static constexpr std::size_t kLaneBits = 64;
    static constexpr std::size_t kLanes = 1;

    static V load(const std::uint64_t* p) noexcept { return *p; }
    static void store(std::uint64_t* p, V v) noexcept { *p = v; }
    static V zero() noexcept { return 0; }
    static V ones() noexcept { return ~V{0}; }
    static V lane_one() noexcept { return 1; }
    static V broadcast(std::uint64_t value) noexcept { return value; }
    static V and_(V a, V b) noexcept { return a & b; }
    static V or_(V a, V b) noexcept { return a | b; }
    static V xor_(V a, V b) noexcept { return a ^ b; }
    static V andnot(V a, V b) noexcept { return ~a & b; }
    static V add(V a, V b) noexcept { return a + b; }
    static V sub(V a, V b) noexcept { return a - b; }
    static V eq_zero(V a) noexcept { return a == 0 ? ~V{0} : 0; }
    static V gt_zero(V a) noexcept { return static_cast<std::int64_t>(a) > 0 ? ~V{0} : 0; }
    static V popcount(V a) noexcept { return static_cast<V>(std::popcount(a)); }
};

// Appends the scalar values of text when it is well-formed in the sense
// the core relies on: every lead byte followed by exactly as many
// continuation bytes as it announces, no stray continuation byte. The core
// decodes such a text to one value per counted character, as here.
bool append_well_formed(std::string_view text, std::vector<char32_t>& out) {
    if (utf8::is_ascii(text)) {
        out.insert(out.end(), reinterpret_cast<const unsigned char*>(text.data()),
                   reinterpret_cast<const unsigned char*>(text.data()) + text.size());
        return true;
    }
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (utf8::is_continuation(lead)) return false;
        const std::size_t length = utf8::sequence_length(lead);
        if (length > text.size() - pos) return false;
        for (std::size_t k = 1; k < length; ++k)
            if (!utf8::is_continuation(static_cast<unsigned char>(text[pos + k]))) return false;
        out.push_back(utf8::decode(text, pos));
    }
    return true;
}

}  // namespace

DecodedTexts decode_texts(std::span<const std::string_view> texts) {
    DecodedTexts decoded;
    decoded.start.reserve(texts.size() + 1);
    decoded.well_formed.reserve(texts.size());
    decoded.start.push_back(0);
    for (const std::string_view text : texts) {
        const bool ok = append_well_formed(text, decoded.chars);
        if (!ok) decoded.chars.resize(decoded.start.back());
        decoded.well_formed.push_back(ok);
        decoded.start.push_back(decoded.chars.size());
    }
    return decoded;
}

PackedChoices::~PackedChoices() = default;

std::unique_ptr<PackedChoices> pack_choices_portable(const DecodedTexts& choices, std::span<const std::uint32_t> ids) {
    return std::make_unique<LanePackedChoices<PortableLanes, 64>>(choices, ids);
}

}  // namespace tile_detail

namespace {

using tile_detail::DecodedTexts;

std::size_t length_of(const DecodedTexts& texts, std::size_t i) noexcept {
    return texts.start[i + 1] - texts.start[i];
}

// Splits a block into the texts the packed kernels take and the others.
// With `by_length`, the packed texts (1 to kMaxPackedChars characters) come
// ordered by length, ties in block order (a counting sort).
struct Split {
    std::vector<std::uint32_t> packed, loose;
};

template <class Fits>
Split split(const DecodedTexts& texts, bool by_length, Fits fits) {
    Split result;
    std::array<std::size_t, tile_detail::kMaxPackedChars + 2> first{};
    for (std::uint32_t i = 0; i + 1 < texts.start.size(); ++i) {
        const bool packed = texts.well_formed[i] && fits(length_of(texts, i));
        (packed ? result.packed : result.loose).push_back(i);
        if (packed && by_length) ++first[length_of(texts, i) + 1];
    }
    if (by_length) {
        for (std::size_t length = 1; length < first.size(); ++length) first[length] += first[length - 1];
        std::vector<std::uint32_t> sorted(result.packed.size());
        for (const std::uint32_t i : result.packed) sorted[first[length_of(texts, i)]++] = i;
        result.packed = std::move(sorted);
    }
    return result;
}

bool fits_lane(std::size_t length) noexcept { return length >= 1 && length <= tile_detail::kMaxPackedChars; }

// Scores through `pair(q, c)` every pair the packed kernel does not take.
template <class Out, class Pair>
void score_loose_pairs(const Split& queries, const Split& choices, std::size_t n_choices, Out* out,
                       std::size_t row_stride, Pair pair) {
    for (const std::uint32_t q : queries.loose)
        for (std::size_t c = 0; c < n_choices; ++c) out[q * row_stride + c] = pair(q, c);
    for (const std::uint32_t q : queries.packed)
        for (const std::uint32_t c : choices.loose) out[q * row_stride + c] = pair(q, c);
}

}  // namespace

bool tile_isa_supported(TileIsa isa) noexcept {
    switch (isa) {
        case TileIsa::portable:
            return true;
        case TileIsa::avx2:
#if defined(__x86_64__) || defined(__i386__)
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
#else
            return false;
#endif
        case TileIsa::avx512:
#if defined(__x86_64__) || defined(__i386__)
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("popcnt");
#else
            return false;
#endif
    }
    return false;
}

TileIsa best_tile_isa() noexcept {
    static const TileIsa best = tile_isa_supported(TileIsa::avx512) ? TileIsa::avx512
                                : tile_isa_supported(TileIsa::avx2) ? TileIsa::avx2
                                                                    : TileIsa::portable;
    return best;
}

struct TileChoices::Packed {
    std::vector<std::string_view> texts;
    Split split;
    std::unique_ptr<tile_detail::PackedChoices> lanes;  // null when no choice fits a lane
};

TileChoices::TileChoices(std::span<const std::string_view> choices) : TileChoices(best_tile_isa(), choices) {}

TileChoices::TileChoices(TileIsa isa, std::span<const std::string_view> choices)
    : packed_(std::make_unique<Packed>()) {
    if (!tile_isa_supported(isa)) isa = best_tile_isa();
    packed_->texts.assign(choices.begin(), choices.end());
    const DecodedTexts decoded = tile_detail::decode_texts(choices);
    packed_->split = split(decoded, true, fits_lane);
    const std::span<const std::uint32_t> ids = packed_->split.packed;
    if (ids.empty()) return;
    switch (isa) {
        case TileIsa::avx512:
            packed_->lanes = tile_detail::pack_choices_avx512(decoded, ids);
            break;
        case TileIsa::avx2:
            packed_->lanes = tile_detail::pack_choices_avx2(decoded, ids);
            break;
        case TileIsa::portable:
            packed_->lanes = tile_detail::pack_choices_portable(decoded, ids);
            break;
    }
}

TileChoices::TileChoices(TileChoices&&) noexcept = default;
TileChoices& TileChoices::operator=(TileChoices&&) noexcept = default;
TileChoices::~TileChoices() = default;

std::size_t TileChoices::size() const noexcept { return packed_->texts.size(); }

void levenshtein_tile(std::span<const std::string_view> queries, const TileChoices& choices, std::uint64_t* out,
                      std::size_t row_stride, std::uint64_t max_distance) {
    const TileChoices::Packed& packed = *choices.packed_;
    if (queries.empty() || packed.texts.empty()) return;
    const DecodedTexts decoded = tile_detail::decode_texts(queries);
    const Split query_split = split(decoded, false, [](std::size_t) { return true; });
    if (packed.lanes && !query_split.packed.empty())
        packed.lanes->levenshtein(decoded, query_split.packed, out, row_stride, max_distance);
    const std::uint64_t beyond = max_distance == UINT64_MAX ? max_distance : max_distance + 1;
    score_loose_pairs(query_split, packed.split, packed.texts.size(), out, row_stride, [&](std::size_t q, std::size_t c) {
        const std::uint64_t d = algo::levenshtein_distance(queries[q], packed.texts[c]);
        return d <= max_distance ? d : beyond;
    });
}

void jaro_winkler_tile(std::span<const std::string_view> queries, const TileChoices& choices, double* out,
                       std::size_t row_stride) {
    const TileChoices::Packed& packed = *choices.packed_;
    if (queries.empty() || packed.texts.empty()) return;
    const DecodedTexts decoded = tile_detail::decode_texts(queries);
    const Split query_split = split(decoded, false, fits_lane);
    if (packed.lanes && !query_split.packed.empty())
        packed.lanes->jaro_winkler(decoded, query_split.packed, out, row_stride);
    score_loose_pairs(query_split, packed.split, packed.texts.size(), out, row_stride, [&](std::size_t q, std::size_t c) {
        return algo::jaro_winkler_similarity(queries[q], packed.texts[c]);
    });
}

void levenshtein_tile(TileIsa isa, std::span<const std::string_view> queries,
                      std::span<const std::string_view> choices, std::uint64_t* out, std::size_t row_stride,
                      std::uint64_t max_distance) {
    if (queries.empty() || choices.empty()) return;
    levenshtein_tile(queries, TileChoices(isa, choices), out, row_stride, max_distance);
}

void jaro_winkler_tile(TileIsa isa, std::span<const std::string_view> queries,
                       std::span<const std::string_view> choices, double* out, std::size_t row_stride) {
    if (queries.empty() || choices.empty()) return;
    jaro_winkler_tile(queries, TileChoices(isa, choices), out, row_stride);
}

void levenshtein_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                      std::uint64_t* out, std::size_t row_stride, std::uint64_t max_distance) {
    levenshtein_tile(best_tile_isa(), queries, choices, out, row_stride, max_distance);
}

void jaro_winkler_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                       double* out, std::size_t row_stride) {
    jaro_winkler_tile(best_tile_isa(), queries, choices, out, row_stride);
}

}  // namespace vorn::collection
