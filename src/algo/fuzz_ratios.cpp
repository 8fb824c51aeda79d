// The fuzz ratios over code points. Each text is decoded and split once
// (PreparedText); tokens are views into the decoded text. The functions on
// UTF-8 texts prepare both texts and score the prepared pair, so a batch
// that prepares each string once gets the very same values.
#include "algo/fuzz_ratios.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "algo/lcs_seq.hpp"
#include "text/code_points.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo::fuzz {
namespace {

using Text = std::u32string_view;
using Tokens = std::vector<Text>;
using TokenSpan = std::span<const Text>;

constexpr double kUnbaseScale = 0.95;

double kept(double score, double score_cutoff) noexcept { return score >= score_cutoff ? score : 0.0; }

// 100 - 100 * dist / lensum: the set ratios' own rounding of the same value.
double set_ratio(std::size_t dist, std::size_t lensum) noexcept {
    return lensum > 0 ? 100.0 - 100.0 * static_cast<double>(dist) / static_cast<double>(lensum) : 100.0;
}

double ratio_of(Text a, Text b) { return indel_ratio(indel_distance(a, b), a.size() + b.size()); }

// Memory for n items: on the stack for the usual short texts, on the heap
// beyond.
template <class T>
class Scratch {
public:
    T* get(std::size_t n) {
        if (n <= kLocal) return local_;
        heap_.resize(n);
        return heap_.data();
    }

private:
    static constexpr std::size_t kLocal = 128;
    T local_[kLocal];
    std::vector<T> heap_;
};

// needle is not longer than haystack, and neither is empty. The full-length
// windows are searched first, by halving ranges of window starts and
// dropping a range when even its best case, bounded by the distances at
// its ends (moving a window by one character changes the distance by at
// most two), cannot beat the best so far. Then the windows cut short at
// the start and at the end. The first window with the best score wins.
ScoreAlignment partial_ratio_search(const PartialNeedle& prepared, Text haystack) {
    const Text needle = prepared.text();
    const std::size_t len1 = needle.size(), len2 = haystack.size();
    ScoreAlignment best{0, 0, len1, 0, len1};
    const CachedLcsSeq& cached = prepared.masks();
    const auto distance_to = [&](Text window) { return len1 + window.size() - 2 * cached.similarity(window); };
    // A window's subsequence is no longer than that of the haystack's
    // prefix it ends or of the suffix it starts: one pass each way gives
    // these bounds for every window, and the exact values for the windows
    // cut short.
    Scratch<std::size_t> prefix_memory, suffix_memory;
    std::size_t* in_prefix = prefix_memory.get(len2);  // [e - 1]: haystack[0, e)
    std::size_t* in_suffix = suffix_memory.get(len2);  // [k]: its last k + 1 characters
    cached.prefix_similarities(haystack, in_prefix);
    prepared.reversed_masks().reversed_prefix_similarities(haystack, in_suffix);

    if (len2 > len1) {
        constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();
        const std::size_t maximum = 2 * len1;
        std::size_t bound = maximum;  // a window must come closer than this
        std::size_t best_distance = kUnknown;
        // A range holds at least one window, so each level has at most one
        // range per window.
        const std::size_t windows = len2 - len1;
        Scratch<std::size_t> distance_memory;
        struct Range {
            std::size_t first, last;  // window starts
        };
        Scratch<Range> range_memory, half_memory;
        std::size_t* distances = distance_memory.get(windows);
        std::fill_n(distances, windows, kUnknown);
        const auto visit = [&](std::size_t start) {
            if (distances[start] != kUnknown) return false;
            // A window that cannot come closer than the bound keeps its
            // lower bound in place of its distance: the ranges' bounds
            // below only grow with the values they are given, and stay
            // sound with lower ones.
            const std::size_t most = std::min(in_prefix[start + len1 - 1], in_suffix[len2 - start - 1]);
            distances[start] = maximum - 2 * most;
            if (distances[start] >= bound) return false;
            distances[start] = distance_to(haystack.substr(start, len1));
            if (distances[start] >= bound) return false;
            bound = best_distance = distances[start];
            best.dest_start = start;
            best.dest_end = start + len1;
            return best_distance == 0;
        };
        auto* ranges = range_memory.get(windows);
        auto* halves = half_memory.get(windows);
        std::size_t range_count = 1, half_count = 0;
        ranges[0] = {0, windows - 1};
        while (range_count != 0) {
            for (std::size_t r = 0; r < range_count; ++r) {
                const auto [first, last] = ranges[r];
                if (visit(first) || visit(last)) {
                    best.score = 100;
                    return best;
                }
                const std::size_t cells = last - first;
                if (cells == 1) continue;
                const std::size_t d_first = distances[first], d_last = distances[last];
                const std::size_t known = d_first > d_last ? d_first - d_last : d_last - d_first;
                const std::size_t improvement = (cells - known / 2) / 2 * 2;
                const auto lowest =
                    static_cast<std::ptrdiff_t>(std::min(d_first, d_last)) - static_cast<std::ptrdiff_t>(improvement);
                if (lowest < static_cast<std::ptrdiff_t>(bound)) {
                    halves[half_count++] = {first, first + cells / 2};
                    halves[half_count++] = {first + cells / 2, last};
                }
            }
            std::swap(ranges, halves);
            range_count = std::exchange(half_count, 0);
        }
        if (best_distance != kUnknown)
            best.score = (1.0 - static_cast<double>(best_distance) / static_cast<double>(maximum)) * 100;
    }

    // A window cut short can only win by ending (starting) on a character
    // of the needle.
    const auto consider = [&](std::size_t start, std::size_t end, std::size_t lcs) {
        const std::size_t width = end - start;
        const double score = indel_ratio(len1 + width - 2 * lcs, len1 + width);
        if (score <= best.score) return false;
        best.score = score;
        best.dest_start = start;
        best.dest_end = end;
        return score == 100;
    };
    for (std::size_t end = 1; end < len1; ++end)
        if (prepared.contains(haystack[end - 1]) && consider(0, end, in_prefix[end - 1])) return best;
    for (std::size_t start = len2 - len1; start < len2; ++start)
        if (prepared.contains(haystack[start]) && consider(start, len2, in_suffix[len2 - start - 1])) return best;
    return best;
}

// Searches with the needle's prepared form when given, else prepares it.
ScoreAlignment search_with(Text needle, const PartialNeedle* prepared, Text haystack) {
    if (prepared != nullptr) return partial_ratio_search(*prepared, haystack);
    return partial_ratio_search(PartialNeedle(needle), haystack);
}

// needle_a and needle_b, when given, are a and b prepared.
ScoreAlignment partial_alignment_of(Text a, Text b, double score_cutoff, const PartialNeedle* needle_a = nullptr,
                                    const PartialNeedle* needle_b = nullptr) {
    if (a.size() > b.size()) {
        ScoreAlignment swapped = partial_alignment_of(b, a, score_cutoff, needle_b, needle_a);
        std::swap(swapped.src_start, swapped.dest_start);
        std::swap(swapped.src_end, swapped.dest_end);
        return swapped;
    }
    const std::size_t len1 = a.size(), len2 = b.size();
    const ScoreAlignment nothing{0, 0, len1, 0, len1};
    if (score_cutoff > 100) return nothing;
    if (len1 == 0 || len2 == 0) return {len1 == len2 ? 100.0 : 0.0, 0, len1, 0, len1};
    ScoreAlignment found = search_with(a, needle_a, b);
    if (found.score != 100 && len1 == len2) {
        // Of equal lengths either text may be the needle.
        const ScoreAlignment other = search_with(b, needle_b, a);
        if (other.score > found.score)
            found = {other.score, other.dest_start, other.dest_end, other.src_start, other.src_end};
    }
    return found.score >= score_cutoff ? found : nothing;
}

double partial_of(Text a, Text b, double score_cutoff, const PartialNeedle* needle_a = nullptr,
                  const PartialNeedle* needle_b = nullptr) {
    return partial_alignment_of(a, b, score_cutoff, needle_a, needle_b).score;
}

// ratio_of from the shorter text's prepared masks.
double prepared_ratio_of(Text a, Text b, const WRatioNeedles& needles_a, const WRatioNeedles& needles_b) {
    const std::size_t lcs =
        a.size() <= b.size() ? needles_a.chars.masks().similarity(b) : needles_b.chars.masks().similarity(a);
    return indel_ratio(a.size() + b.size() - 2 * lcs, a.size() + b.size());
}

// Tokens are the maximal runs of characters other than separators,
// sorted by code point. Separators are Python's whitespace, except that
// in a text with no character beyond U+00FF (one byte per character in
// Python's storage) RapidFuzz does not split on U+0085 and U+00A0.
Tokens sorted_tokens_of(Text text) {
    const bool narrow = std::all_of(text.begin(), text.end(), [](char32_t c) { return c <= 0xFF; });
    const auto separates = [narrow](char32_t c) {
        return text::is_python_whitespace(c) && !(narrow && (c == 0x85 || c == 0xA0));
    };
    Tokens tokens;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !separates(text[i])) continue;
        if (i > start) tokens.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    std::sort(tokens.begin(), tokens.end());
    return tokens;
}

std::size_t joined_length(TokenSpan tokens) {
    std::size_t length = tokens.empty() ? 0 : tokens.size() - 1;
    for (Text token : tokens) length += token.size();
    return length;
}

// The tokens joined by single spaces into `text` (its memory reused).
Text joined_into(TokenSpan tokens, std::u32string& text) {
    text.clear();
    text.reserve(joined_length(tokens));
    for (Text token : tokens) {
        if (!text.empty()) text.push_back(U' ');
        text.append(token);
    }
    return text;
}

// The tokens of one side of a pair joined, in this thread's buffer for
// that side: pairs in a batch reuse the memory instead of allocating.
Text joined_side(TokenSpan tokens, bool second) {
    thread_local std::u32string buffers[2];
    return joined_into(tokens, buffers[second]);
}

// The distinct tokens of two texts split into those of both, of the
// first only and of the second only (each sorted).
struct Decomposition {
    Tokens common, only_a, only_b;
};

// The decomposition in this thread's buffer, valid until its next call.
const Decomposition& decompose(TokenSpan a, TokenSpan b) {
    thread_local Decomposition parts;
    parts.common.clear();
    parts.only_a.clear();
    parts.only_b.clear();
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(parts.common));
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(parts.only_a));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(parts.only_b));
    return parts;
}

// The set ratio once neither token set holds the other: the ratio of the
// two texts "common + only_a" and "common + only_b", and of each with
// "common" alone, worked out from the lengths where they share the common
// part.
double set_ratio_of(const Decomposition& parts) {
    const Text only_a = joined_side(parts.only_a, false), only_b = joined_side(parts.only_b, true);
    const std::size_t common = joined_length(parts.common);
    const std::size_t separator = common != 0;
    const std::size_t common_a = common + separator + only_a.size();
    const std::size_t common_b = common + separator + only_b.size();
    const double either = set_ratio(indel_distance(only_a, only_b), common_a + common_b);
    if (common == 0) return either;
    const double with_a = set_ratio(separator + only_a.size(), common + common_a);
    const double with_b = set_ratio(separator + only_b.size(), common + common_b);
    return std::max({either, with_a, with_b});
}

bool one_holds_other(const Decomposition& parts) {
    return !parts.common.empty() && (parts.only_a.empty() || parts.only_b.empty());
}

double token_set_of(const PreparedText& a, const PreparedText& b) {
    if (a.distinct_tokens().empty() || b.distinct_tokens().empty()) return 0;
    const Decomposition& parts = decompose(a.distinct_tokens(), b.distinct_tokens());
    if (one_holds_other(parts)) return 100;
    return set_ratio_of(parts);
}

double token_of(const PreparedText& a, const PreparedText& b) {
    const Decomposition& parts = decompose(a.distinct_tokens(), b.distinct_tokens());
    if (one_holds_other(parts)) return 100;
    const double sorted = ratio_of(a.sorted_joined(), b.sorted_joined());
    return std::max(sorted, set_ratio_of(parts));
}

// sorted_a and sorted_b, when given, are the needles of the sorted tokens
// joined.
double partial_token_of(const PreparedText& a, const PreparedText& b, const PartialNeedle* sorted_a = nullptr,
                        const PartialNeedle* sorted_b = nullptr) {
    const Decomposition& parts = decompose(a.distinct_tokens(), b.distinct_tokens());
    if (!parts.common.empty()) return 100;
    const double sorted = partial_of(a.sorted_joined(), b.sorted_joined(), 0, sorted_a, sorted_b);
    // Without repeated tokens the set form compares the same two texts.
    if (a.sorted_tokens().size() == parts.only_a.size() && b.sorted_tokens().size() == parts.only_b.size())
        return sorted;
    return std::max(sorted, partial_of(joined_side(parts.only_a, false), joined_side(parts.only_b, true), 0));
}

// The inner cutoffs are those of a call without a cutoff: they are part
// of the formula (a scaled score that only rounding lifts above the best
// so far does not count). The caller's cutoff applies to the result alone,
// so that a score equal to it is kept.
//
// A ratio that cannot reach its inner cutoff leaves the result as it is,
// so it is not computed: a score of at most 100 scaled by the same factors
// cannot come out above 100 scaled by them.
//
// needles_a and needles_b, when given, are the texts' prepared needles.
double wratio_of(const PreparedText& prepared_a, const PreparedText& prepared_b, const WRatioNeedles* needles_a,
                 const WRatioNeedles* needles_b) {
    const Text a = prepared_a.chars(), b = prepared_b.chars();
    const std::size_t len1 = a.size(), len2 = b.size();
    if (len1 == 0 || len2 == 0) return 0;
    const double len_ratio = len1 > len2 ? static_cast<double>(len1) / static_cast<double>(len2)
                                         : static_cast<double>(len2) / static_cast<double>(len1);
    double end_ratio = needles_a == nullptr ? ratio_of(a, b) : prepared_ratio_of(a, b, *needles_a, *needles_b);
    if (len_ratio < 1.5) {
        const double token_cutoff = end_ratio / kUnbaseScale;
        if (token_cutoff > 100) return end_ratio;
        return std::max(end_ratio, kept(token_of(prepared_a, prepared_b), token_cutoff) * kUnbaseScale);
    }
    const double partial_scale = len_ratio <= 8.0 ? 0.9 : 0.6;
    double cutoff = end_ratio / partial_scale;
    const auto needle = [](const WRatioNeedles* needles, bool sorted) -> const PartialNeedle* {
        if (needles == nullptr) return nullptr;
        return sorted ? &needles->sorted : &needles->chars;
    };
    if (cutoff <= 100) {
        const double partial = partial_of(a, b, 0, needle(needles_a, false), needle(needles_b, false));
        end_ratio = std::max(end_ratio, kept(partial, cutoff) * partial_scale);
    }
    cutoff = std::max(cutoff, end_ratio) / kUnbaseScale;
    if (cutoff > 100) return end_ratio;
    const double partial_token =
        partial_token_of(prepared_a, prepared_b, needle(needles_a, true), needle(needles_b, true));
    return std::max(end_ratio, kept(partial_token, cutoff) * kUnbaseScale * partial_scale);
}

template <class Score>
double on_code_points(std::string_view a, std::string_view b, Score&& score) {
    return score(text::decode_code_points(a), text::decode_code_points(b));
}

// A score of two UTF-8 texts through their prepared forms.
template <class Score>
double on_prepared(std::string_view a, std::string_view b, Score&& score) {
    return score(PreparedText(a), PreparedText(b));
}

}  // namespace

namespace {

// The text reversed, in `memory`.
std::u32string_view reversed(std::u32string_view text, Scratch<char32_t>&& memory) {
    char32_t* out = memory.get(text.size());
    std::reverse_copy(text.begin(), text.end(), out);
    return {out, text.size()};
}

}  // namespace

PartialNeedle::PartialNeedle(std::u32string_view needle)
    : text_(needle), masks_(needle), reversed_masks_(reversed(needle, Scratch<char32_t>())) {
    for (char32_t c : needle) {
        if (c < 128) ascii_[c] = true;
        else others_.push_back(c);
    }
    std::sort(others_.begin(), others_.end());
}

bool PartialNeedle::contains(char32_t c) const noexcept {
    return c < 128 ? ascii_[c] : std::binary_search(others_.begin(), others_.end(), c);
}

double partial_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff, const PartialNeedle& needle_a,
                     const PartialNeedle& needle_b) {
    return partial_of(a.chars(), b.chars(), score_cutoff, &needle_a, &needle_b);
}

double wratio(const PreparedText& a, const PreparedText& b, double score_cutoff, WRatioNeedles needles_a,
              WRatioNeedles needles_b) {
    if (score_cutoff > 100) return 0;
    return kept(wratio_of(a, b, &needles_a, &needles_b), score_cutoff);
}

PreparedText::PreparedText(std::string_view text, bool with_tokens) {
    const std::u32string decoded = text::decode_code_points(text);
    length_ = decoded.size();
    // Room for the joined tokens too, which are never longer than the
    // text: the views made below stay valid.
    storage_.reserve(with_tokens ? 2 * length_ : length_);
    storage_.assign(decoded.begin(), decoded.end());
    if (!with_tokens) return;
    tokens_ = sorted_tokens_of(chars());
    sorted_count_ = tokens_.size();
    tokens_.reserve(2 * sorted_count_);
    for (std::size_t k = 0; k < sorted_count_; ++k)
        if (k == 0 || tokens_[k] != tokens_[k - 1]) tokens_.push_back(tokens_[k]);
    for (const Text token : sorted_tokens()) {
        if (storage_.size() != length_) storage_.push_back(U' ');
        storage_.insert(storage_.end(), token.begin(), token.end());
    }
}

double ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    return kept(ratio_of(a.chars(), b.chars()), score_cutoff);
}

double partial_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    return partial_of(a.chars(), b.chars(), score_cutoff);
}

double token_sort_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    return kept(ratio_of(a.sorted_joined(), b.sorted_joined()), score_cutoff);
}

double partial_token_sort_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    return partial_of(a.sorted_joined(), b.sorted_joined(), score_cutoff);
}

double token_set_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    return kept(token_set_of(a, b), score_cutoff);
}

double partial_token_set_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    double score = 0;
    if (!a.distinct_tokens().empty() && !b.distinct_tokens().empty()) {
        const Decomposition& parts = decompose(a.distinct_tokens(), b.distinct_tokens());
        score = !parts.common.empty()
                    ? 100.0
                    : partial_of(joined_side(parts.only_a, false), joined_side(parts.only_b, true), 0);
    }
    return kept(score, score_cutoff);
}

double token_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    if (score_cutoff > 100) return 0;
    return kept(token_of(a, b), score_cutoff);
}

double partial_token_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    if (score_cutoff > 100) return 0;
    return kept(partial_token_of(a, b), score_cutoff);
}

double wratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    if (score_cutoff > 100) return 0;
    return kept(wratio_of(a, b, nullptr, nullptr), score_cutoff);
}

double qratio(const PreparedText& a, const PreparedText& b, double score_cutoff) {
    if (a.chars().empty() || b.chars().empty()) return 0;
    return ratio(a, b, score_cutoff);
}

double ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return kept(on_code_points(a, b, ratio_of), score_cutoff);
}

ScoreAlignment partial_ratio_alignment(std::string_view a, std::string_view b, double score_cutoff) {
    return partial_alignment_of(text::decode_code_points(a), text::decode_code_points(b), score_cutoff);
}

double partial_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return partial_ratio_alignment(a, b, score_cutoff).score;
}

double token_sort_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return token_sort_ratio(x, y, score_cutoff); });
}

double partial_token_sort_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b,
                       [&](const auto& x, const auto& y) { return partial_token_sort_ratio(x, y, score_cutoff); });
}

double token_set_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return token_set_ratio(x, y, score_cutoff); });
}

double partial_token_set_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return partial_token_set_ratio(x, y, score_cutoff); });
}

double token_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return token_ratio(x, y, score_cutoff); });
}

double partial_token_ratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return partial_token_ratio(x, y, score_cutoff); });
}

double wratio(std::string_view a, std::string_view b, double score_cutoff) {
    return on_prepared(a, b, [&](const auto& x, const auto& y) { return wratio(x, y, score_cutoff); });
}

double qratio(std::string_view a, std::string_view b, double score_cutoff) {
    if (a.empty() || b.empty()) return 0;
    return ratio(a, b, score_cutoff);
}

}  // namespace vorn::algo::fuzz
