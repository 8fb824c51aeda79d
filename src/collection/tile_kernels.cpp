// Tile dispatch: decodes both blocks once (with the core's code-point
// walk), hands the pairs whose choice fits a lane to the packed kernel of
// the chosen instruction set, and scores the other pairs through the core's
// cached scorers, one query's masks for all its pairs.
#include "collection/tile_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <span>
#include <tuple>
#include <type_traits>
#include <vector>

#include "algo/char_masks.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lcs_seq.hpp"
#include "algo/levenshtein.hpp"
#include "collection/tile_texts.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

// The portable kernels: one 64-bit lane per plain machine word.
#include "collection/tile_lanes.hpp"

namespace vorn::collection {
namespace tile_detail {

bool is_well_formed(std::string_view text) noexcept {
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (utf8::is_continuation(lead)) return false;
        const std::size_t length = utf8::sequence_length(lead);
        if (length > text.size() - pos) return false;
        for (std::size_t k = 1; k < length; ++k)
            if (!utf8::is_continuation(static_cast<unsigned char>(text[pos + k]))) return false;
        pos += length;
    }
    return true;
}

DecodedTexts decode_texts(std::span<const std::string_view> texts) {
    DecodedTexts decoded;
    decoded.start.reserve(texts.size() + 1);
    decoded.well_formed.reserve(texts.size());
    decoded.start.push_back(0);
    for (const std::string_view text : texts) {
        const bool ascii = utf8::is_ascii(text);
        const bool well_formed = ascii || is_well_formed(text);
        if (ascii) {
            const text::AsciiCodePoints chars(text);
            decoded.chars.insert(decoded.chars.end(), chars.begin(), chars.end());
        } else if (well_formed) {
            for (const char32_t c : text::CodePoints(text)) decoded.chars.push_back(c);
        }
        decoded.well_formed.push_back(well_formed);
        decoded.start.push_back(decoded.chars.size());
    }
    return decoded;
}

PackedChoices::~PackedChoices() = default;

std::uint64_t core_pair_distance(std::string_view a, std::string_view b, std::uint64_t max_distance) {
    // Under a bound the cached scorer narrows its work and saturates; it
    // reads a text that is not well-formed differently from the pairwise
    // function, which therefore scores those.
    if (max_distance < UINT64_MAX - 1 && is_well_formed(a) && is_well_formed(b))
        return algo::CachedLevenshtein(a).distance(b, max_distance);
    return bounded_distance(algo::levenshtein_distance(a, b), max_distance);
}

std::unique_ptr<PackedChoices> pack_choices_portable(const DecodedTexts& choices, std::span<const std::uint32_t> ids) {
    return std::make_unique<LanePackedChoices<PortableLanes, 64>>(choices, ids);
}

}  // namespace tile_detail

namespace {

using tile_detail::DecodedTexts;

std::size_t length_of(const DecodedTexts& texts, std::size_t i) noexcept { return texts.start[i + 1] - texts.start[i]; }

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

// Scores every pair the packed kernel does not take: through the core's
// cached scorer of each query (`Cached`), its masks built once for all its
// pairs, or through the pairwise function `pair` when either text is not
// well-formed.
template <class Cached, class Out, class Score, class Pair>
void score_loose_pairs(std::span<const std::string_view> queries, const DecodedTexts& decoded_queries,
                       const Split& query_split, std::span<const std::string_view> choices,
                       const DecodedTexts& decoded_choices, const Split& choice_split, Out* out, std::size_t row_stride,
                       Score score, Pair pair) {
    const auto score_row = [&](std::uint32_t q, std::span<const std::uint32_t> choice_ids) {
        Out* row = out + q * row_stride;
        if (!decoded_queries.well_formed[q]) {
            for (const std::uint32_t c : choice_ids) row[c] = pair(queries[q], choices[c]);
            return;
        }
        const Cached cached(queries[q]);
        for (const std::uint32_t c : choice_ids)
            row[c] = decoded_choices.well_formed[c] ? score(cached, choices[c]) : pair(queries[q], choices[c]);
    };
    if (!query_split.loose.empty()) {
        std::vector<std::uint32_t> all_choices(choices.size());
        for (std::uint32_t c = 0; c < all_choices.size(); ++c) all_choices[c] = c;
        for (const std::uint32_t q : query_split.loose) score_row(q, all_choices);
    }
    if (choice_split.loose.empty()) return;
    for (const std::uint32_t q : query_split.packed) score_row(q, choice_split.loose);
}

bool fits_lane(std::size_t length) noexcept { return length >= 1 && length <= tile_detail::kMaxPackedChars; }

}  // namespace

struct TileChoices::Packed {
    std::vector<std::string_view> texts;
    // Lengths and well-formedness; the characters too when built from
    // decoded texts (otherwise they are in `lanes` alone).
    DecodedTexts decoded;
    Split split;
    std::unique_ptr<tile_detail::PackedChoices> lanes;  // null when no choice fits a lane

    void pack(simd::Level level) {
        split = collection::split(decoded, true, fits_lane);
        const std::span<const std::uint32_t> ids = split.packed;
        if (ids.empty()) return;
        switch (simd::clamp_to_processor(level)) {
            case simd::Level::avx512: lanes = tile_detail::pack_choices_avx512(decoded, ids); break;
            case simd::Level::avx2: lanes = tile_detail::pack_choices_avx2(decoded, ids); break;
            case simd::Level::portable: lanes = tile_detail::pack_choices_portable(decoded, ids); break;
        }
    }
};

TileChoices::TileChoices(std::span<const std::string_view> choices) : TileChoices(simd::active_level(), choices) {}

TileChoices::TileChoices(simd::Level level, std::span<const std::string_view> choices)
    : packed_(std::make_unique<Packed>()) {
    packed_->texts.assign(choices.begin(), choices.end());
    packed_->decoded = tile_detail::decode_texts(choices);
    packed_->pack(level);
    packed_->decoded.chars = {};  // kept only in the lanes' masks
}

TileChoices::TileChoices(simd::Level level, const tile_detail::CodePointTexts& choices)
    : packed_(std::make_unique<Packed>()) {
    DecodedTexts& decoded = packed_->decoded;
    const std::size_t first = choices.start[0], last = choices.start[choices.size];
    decoded.chars.assign(choices.chars + first, choices.chars + last);
    decoded.start.reserve(choices.size + 1);
    for (std::size_t i = 0; i <= choices.size; ++i) decoded.start.push_back(choices.start[i] - first);
    decoded.well_formed.assign(choices.size, 1);
    packed_->pack(level);
}

TileChoices::TileChoices(TileChoices&&) noexcept = default;
TileChoices& TileChoices::operator=(TileChoices&&) noexcept = default;
TileChoices::~TileChoices() = default;

std::size_t TileChoices::size() const noexcept { return packed_->decoded.well_formed.size(); }

void levenshtein_tile(std::span<const std::string_view> queries, const TileChoices& choices, std::uint64_t* out,
                      std::size_t row_stride, std::uint64_t max_distance) {
    const TileChoices::Packed& packed = *choices.packed_;
    if (queries.empty() || packed.texts.empty()) return;
    const DecodedTexts decoded = tile_detail::decode_texts(queries);
    const Split query_split = split(decoded, false, [](std::size_t) { return true; });
    if (packed.lanes && !query_split.packed.empty())
        packed.lanes->levenshtein(decoded, query_split.packed, out, row_stride, max_distance);
    score_loose_pairs<algo::CachedLevenshtein>(
        queries, decoded, query_split, packed.texts, packed.decoded, packed.split, out, row_stride,
        [&](const algo::CachedLevenshtein& query, std::string_view choice) {
            return query.distance(choice, max_distance);
        },
        [&](std::string_view query, std::string_view choice) {
            return tile_detail::bounded_distance(algo::levenshtein_distance(query, choice), max_distance);
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
    score_loose_pairs<algo::CachedJaroWinkler>(
        queries, decoded, query_split, packed.texts, packed.decoded, packed.split, out, row_stride,
        [](const algo::CachedJaroWinkler& query, std::string_view choice) { return query.similarity(choice); },
        algo::jaro_winkler_similarity);
}

void lcs_seq_tile(const tile_detail::CodePointTexts& queries, const TileChoices& choices, std::uint64_t* out,
                  std::size_t row_stride) {
    const TileChoices::Packed& packed = *choices.packed_;
    if (queries.size == 0 || choices.size() == 0) return;
    if (packed.lanes) {
        std::vector<std::uint32_t> all_queries(queries.size);
        for (std::uint32_t q = 0; q < all_queries.size(); ++q) all_queries[q] = q;
        packed.lanes->lcs_seq(queries, all_queries, out, row_stride);
    }
    if (packed.split.loose.empty()) return;
    const DecodedTexts& decoded = packed.decoded;
    const tile_detail::CodePointTexts loose_choices{decoded.chars.data(), decoded.start.data(), choices.size()};
    for (std::size_t q = 0; q < queries.size; ++q) {
        const algo::CachedLcsSeq query(queries[q]);
        for (const std::uint32_t c : packed.split.loose) out[q * row_stride + c] = query.similarity(loose_choices[c]);
    }
}

void levenshtein_tile(simd::Level level, std::span<const std::string_view> queries,
                      std::span<const std::string_view> choices, std::uint64_t* out, std::size_t row_stride,
                      std::uint64_t max_distance) {
    if (queries.empty() || choices.empty()) return;
    levenshtein_tile(queries, TileChoices(level, choices), out, row_stride, max_distance);
}

void jaro_winkler_tile(simd::Level level, std::span<const std::string_view> queries,
                       std::span<const std::string_view> choices, double* out, std::size_t row_stride) {
    if (queries.empty() || choices.empty()) return;
    jaro_winkler_tile(queries, TileChoices(level, choices), out, row_stride);
}

void levenshtein_pairs(simd::Level level, std::span<const std::string_view> a, std::span<const std::string_view> b,
                       std::uint64_t* out, std::uint64_t max_distance) {
    const std::size_t n = std::min(a.size(), b.size());
    a = a.first(n);
    b = b.first(n);
    switch (simd::clamp_to_processor(level)) {
        case simd::Level::avx512: return tile_detail::levenshtein_pairs_avx512(a, b, out, max_distance);
        case simd::Level::avx2: return tile_detail::levenshtein_pairs_avx2(a, b, out, max_distance);
        case simd::Level::portable: break;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = tile_detail::core_pair_distance(a[i], b[i], max_distance);
}

void levenshtein_pairs(std::span<const std::string_view> a, std::span<const std::string_view> b, std::uint64_t* out,
                       std::uint64_t max_distance) {
    levenshtein_pairs(simd::active_level(), a, b, out, max_distance);
}

void levenshtein_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                      std::uint64_t* out, std::size_t row_stride, std::uint64_t max_distance) {
    levenshtein_tile(simd::active_level(), queries, choices, out, row_stride, max_distance);
}

void jaro_winkler_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                       double* out, std::size_t row_stride) {
    jaro_winkler_tile(simd::active_level(), queries, choices, out, row_stride);
}

}  // namespace vorn::collection
