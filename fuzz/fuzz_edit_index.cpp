// EditIndex against brute force: a small dictionary of texts (many of
// them edits of one another, some repeated, some null) and queries near
// them; every query at every distance from 0 to 5 (both the trie walks and
// the scan beyond) must return exactly the choices that levenshtein_distance
// puts within reach, sorted, and likewise for a similarity cutoff.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "algo/levenshtein.hpp"
#include "collection/string_column.hpp"
#include "fuzz_input.hpp"
#include "index/edit_index.hpp"

namespace {

constexpr std::size_t kMaxChars = 24;
constexpr std::size_t kMaxChoices = 48;

using vorn::index::EditMatch;

std::vector<EditMatch> brute_force(const std::string& query, const std::vector<std::string>& texts,
                                   const vorn::collection::StringColumn& column, std::uint64_t max_distance) {
    std::vector<EditMatch> found;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (column.is_null(i)) continue;
        const std::uint64_t d = vorn::algo::levenshtein_distance(query, texts[i]);
        if (d <= max_distance) found.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(d)});
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    const std::size_t choices = input.byte() % kMaxChoices;
    std::vector<std::u32string> points;
    std::vector<std::string> texts;
    vorn::collection::StringColumn column;
    for (std::size_t i = 0; i < choices; ++i) {
        const std::uint8_t how = input.byte();
        if (!points.empty() && how % 4 == 0) points.push_back(input.edited(points[how / 4 % points.size()], kMaxChars));
        else if (!points.empty() && how % 4 == 1) points.push_back(points[how / 4 % points.size()]);
        else points.push_back(input.text_points(kMaxChars));
        texts.push_back(vorn::fuzz::encode(points.back()));
    }
    for (std::size_t i = 0; i < choices; ++i) {
        if (input.byte() % 8 == 0) column.push_null();
        else column.push_back(texts[i]);
    }
    const auto index = vorn::index::EditIndex::build(column);
    FUZZ_CHECK(index.has_value() && index->size() == choices);
    vorn::index::EditSearch search;
    for (int q = 0; q < 4; ++q) {
        const std::string query =
            points.empty() || input.flag()
                ? input.text(kMaxChars + 4)
                : vorn::fuzz::encode(input.edited(points[input.byte() % points.size()], kMaxChars));
        for (std::uint64_t k = 0; k <= 5; ++k) {
            std::vector<EditMatch> found, scanned;
            FUZZ_CHECK(index->query(query, k, search, found));
            FUZZ_CHECK(found == brute_force(query, texts, column, k));
            FUZZ_CHECK(index->scan(query, k, search, scanned) && scanned == found);
        }
        const double cutoff = input.unit_or_odd_double();
        std::vector<vorn::index::SimilarityMatch> similar;
        FUZZ_CHECK(index->query_similar(query, cutoff, search, similar));
        std::size_t expected = 0;
        for (std::size_t i = 0; i < choices; ++i)
            expected += !column.is_null(i) && vorn::algo::levenshtein_similarity(query, texts[i]) >= cutoff;
        FUZZ_CHECK(similar.size() == expected);
        for (const auto& match : similar)
            FUZZ_CHECK(vorn::fuzz::same_bits(match.similarity,
                                             vorn::algo::levenshtein_similarity(query, texts[match.choice])));
    }
    return 0;
}
