// The tile kernels against the core's pairwise Levenshtein and
// Jaro-Winkler, on every instruction set this processor runs: blocks of
// related texts whose lengths cross the lane widths (8, 16, 32, 64) and
// the packed/unpacked border, with enough choices to fill several groups,
// malformed UTF-8 among them, and distance bounds around the true values;
// and the kernel of aligned pairs on pairs drawn from the same blocks.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "collection/tile_kernels.hpp"
#include "fuzz_input.hpp"
#include "simd/isa.hpp"

namespace {

using vorn::simd::Level;

constexpr std::size_t kMaxChars = 100;
constexpr std::size_t kMaxQueries = 4;
constexpr std::size_t kMaxChoices = 48;

std::vector<std::string> make_block(vorn::fuzz::FuzzInput& input, const std::u32string& base, std::size_t count) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t kind = input.byte() % 8;
        if (kind == 0) texts.emplace_back(input.take(input.byte() % 12));  // raw bytes, often malformed
        else if (kind < 3) texts.push_back(vorn::fuzz::encode(input.text_points(kMaxChars)));
        else texts.push_back(vorn::fuzz::encode(input.edited(base, kMaxChars)));
    }
    return texts;
}

void check_tiles(Level level, const std::vector<std::string_view>& queries,
                 const std::vector<std::string_view>& choices, std::uint64_t max_distance) {
    const std::size_t stride = choices.size() + 1;  // a gap column that must stay untouched
    constexpr std::uint64_t kUntouched = 0xDEADBEEF;
    std::vector<std::uint64_t> distances(queries.size() * stride, kUntouched);
    std::vector<double> similarities(queries.size() * stride, -1.0);
    vorn::collection::levenshtein_tile(level, queries, choices, distances.data(), stride, max_distance);
    vorn::collection::jaro_winkler_tile(level, queries, choices, similarities.data(), stride);
    for (std::size_t q = 0; q < queries.size(); ++q) {
        for (std::size_t c = 0; c < choices.size(); ++c) {
            const std::uint64_t d = vorn::algo::levenshtein_distance(queries[q], choices[c]);
            const std::uint64_t expected = d <= max_distance ? d : max_distance + 1;
            FUZZ_CHECK(distances[q * stride + c] == expected);
            const double s = vorn::algo::jaro_winkler_similarity(queries[q], choices[c]);
            FUZZ_CHECK(vorn::fuzz::same_bits(similarities[q * stride + c], s));
        }
        FUZZ_CHECK(distances[q * stride + choices.size()] == kUntouched);
        FUZZ_CHECK(similarities[q * stride + choices.size()] == -1.0);
    }

    // The aligned pairs (queries[c % n], choices[c]) through the pairwise
    // kernel: the same distances (checked above).
    std::vector<std::string_view> firsts;
    for (std::size_t c = 0; c < choices.size(); ++c) firsts.push_back(queries[c % queries.size()]);
    std::vector<std::uint64_t> aligned(choices.size() + 1, kUntouched);
    vorn::collection::levenshtein_pairs(level, firsts, choices, aligned.data(), max_distance);
    for (std::size_t c = 0; c < choices.size(); ++c)
        FUZZ_CHECK(aligned[c] == distances[c % queries.size() * stride + c]);
    FUZZ_CHECK(aligned[choices.size()] == kUntouched);

    // Choices prepared once, queries scored one block after the other, as
    // a driver does: the same matrices.
    const vorn::collection::TileChoices prepared(level, choices);
    std::vector<std::uint64_t> block_distances(distances.size(), kUntouched);
    std::vector<double> block_similarities(similarities.size(), -1.0);
    for (std::size_t first = 0; first < queries.size(); first += 2) {
        const auto block = std::span(queries).subspan(first, std::min<std::size_t>(2, queries.size() - first));
        vorn::collection::levenshtein_tile(block, prepared, &block_distances[first * stride], stride, max_distance);
        vorn::collection::jaro_winkler_tile(block, prepared, &block_similarities[first * stride], stride);
    }
    FUZZ_CHECK(block_distances == distances);
    for (std::size_t i = 0; i < similarities.size(); ++i)
        FUZZ_CHECK(vorn::fuzz::same_bits(block_similarities[i], similarities[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    const std::size_t n_queries = 1 + input.byte() % kMaxQueries;
    const std::size_t n_choices = 1 + input.byte() % kMaxChoices;
    const std::uint64_t max_distance = input.flag() ? UINT64_MAX - input.byte() % 2 : input.byte() % 70;
    const std::u32string base = input.text_points(kMaxChars);
    const std::vector<std::string> query_texts = make_block(input, base, n_queries);
    const std::vector<std::string> choice_texts = make_block(input, base, n_choices);
    const std::vector<std::string_view> queries(query_texts.begin(), query_texts.end());
    const std::vector<std::string_view> choices(choice_texts.begin(), choice_texts.end());
    for (const Level level : vorn::simd::supported_levels()) check_tiles(level, queries, choices, max_distance);
    return 0;
}
