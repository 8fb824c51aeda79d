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
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace vorn::algo::fuzz {
namespace {

using Text = std::u32string_view;
using Tokens = std::vector<Text>;
using TokenSpan = std::span<const Text>;

constexpr double kUnbaseScale = 0.95;

double kept(double score, double score_cutoff) noexcept { return score >= score_cutoff ? score : 0.0; }

// The longer length over the shorter, as WRatio weighs its parts by.
double length_ratio(std::size_t len1, std::size_t len2) noexcept {
    return len1 > len2 ? static_cast<double>(len1) / static_cast<double>(len2)
                       : static_cast<double>(len2) / static_cast<double>(len1);
}

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
bool separates(char32_t c, bool narrow) noexcept {
    return text::is_python_whitespace(c) && !(narrow && (c == 0x85 || c == 0xA0));
}

bool is_narrow(Text text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char32_t c) { return c <= 0xFF; });
}

// Calls add(token) for each token of text, in text order.
template <class Add>
void for_each_token(Text text, Add&& add) {
    const bool narrow = is_narrow(text);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !separates(text[i], narrow)) continue;
        if (i > start) add(text.substr(start, i - start));
        start = i + 1;
    }
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
    const double len_ratio = length_ratio(len1, len2);
    double end_ratio =
        needles_a == nullptr || needles_b == nullptr ? ratio_of(a, b) : prepared_ratio_of(a, b, *needles_a, *needles_b);
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

PreparedText::PreparedText(std::string_view text, bool with_tokens) { assign(text, with_tokens); }

void PreparedText::assign(std::string_view text, bool with_tokens) {
    storage_.clear();
    tokens_.clear();
    if (utf8::is_ascii(text)) {
        storage_.assign(text.begin(), text.end());
    } else {
        for (char32_t c : text::CodePoints(text)) storage_.push_back(c);
    }
    length_ = storage_.size();
    sorted_count_ = 0;
    if (!with_tokens) return;
    // Room for the joined tokens too, which are never longer than the
    // text: the views made below stay valid.
    storage_.reserve(2 * length_);
    for_each_token(chars(), [this](Text token) { tokens_.push_back(token); });
    std::sort(tokens_.begin(), tokens_.end());
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

namespace {

// The tokens joined by single spaces at `out`, which has room for them.
Text join_onto(TokenSpan tokens, char32_t* out) {
    std::size_t length = 0;
    for (Text token : tokens) {
        if (length != 0) out[length++] = U' ';
        std::copy(token.begin(), token.end(), out + length);
        length += token.size();
    }
    return {out, length};
}

std::u32string joined_text(TokenSpan tokens) {
    std::u32string text;
    joined_into(tokens, text);
    return text;
}

// The tokens (sorted) that `other` (sorted) lacks, at `out`; their count.
std::size_t tokens_outside(TokenSpan tokens, TokenSpan other, Text* out) {
    std::size_t count = 0;
    for (Text token : tokens)
        if (!std::binary_search(other.begin(), other.end(), token)) out[count++] = token;
    return count;
}

std::size_t gap(std::size_t a, std::size_t b) noexcept { return a > b ? a - b : b - a; }

// The highest ratio of texts of a and b characters: the Indel distance is
// at least their difference, and indel_ratio never rises with it.
double length_bound(std::size_t a, std::size_t b) noexcept { return indel_ratio(gap(a, b), a + b); }

// A choice the general way, in this thread's memory: for texts beyond a
// Choice's room and for the partial ratios of WRatio.
const PreparedText& prepared_choice(std::string_view text) {
    thread_local PreparedText prepared;
    prepared.assign(text);
    return prepared;
}

// Whether a text is a single token and nothing else (no separator).
bool is_one_word(Text text, TokenSpan sorted_tokens) noexcept {
    return sorted_tokens.size() == 1 && sorted_tokens[0].size() == text.size();
}

// Whether a text is one token of ASCII characters: no byte beyond ASCII
// and none that a separator may be (every separator in ASCII is at most
// U+0020). The loop has no branch, so that it runs on vectors.
bool is_plain_ascii_word(std::string_view text) noexcept {
    unsigned outside = 0;
    for (char byte : text) outside |= static_cast<unsigned char>(static_cast<unsigned char>(byte) - 0x21) >= 0x5F;
    return !text.empty() && outside == 0;
}

// Room for n tokens on the stack, left uninitialised (a view's default
// constructor would clear all of them on every call): only the slots
// written are read.
template <std::size_t N>
struct TokenRoom {
    TokenRoom() {}  // NOLINT(modernize-use-equals-default): = default would clear the views
    union {
        Text items[N];
    };
};

}  // namespace

// A choice decoded and split on the stack: its characters, its tokens
// sorted and its distinct tokens (views into the characters).
struct QueryRatios::Choice {
    static constexpr std::size_t kRoom = 256;  // characters
    // A token and the separator after it take at least two characters.
    static constexpr std::size_t kTokenRoom = kRoom / 2 + 1;

    char32_t chars[kRoom];
    TokenRoom<kTokenRoom> sorted, distinct;
    std::size_t length = 0, sorted_count = 0, distinct_count = 0;

    // False for a text of more than kRoom characters.
    bool decode(std::string_view text) {
        if (text.size() <= kRoom && utf8::is_ascii(text)) {
            std::copy(text.begin(), text.end(), chars);
            length = text.size();
            return true;
        }
        length = 0;
        for (char32_t c : text::CodePoints(text)) {
            if (length == kRoom) return false;
            chars[length++] = c;
        }
        return true;
    }

    void split() {
        sorted_count = 0;
        for_each_token(characters(), [this](Text token) { sorted.items[sorted_count++] = token; });
        std::sort(sorted.items, sorted.items + sorted_count);
        distinct_count = 0;
        for (std::size_t k = 0; k < sorted_count; ++k)
            if (k == 0 || sorted.items[k] != sorted.items[k - 1]) distinct.items[distinct_count++] = sorted.items[k];
    }

    Text characters() const noexcept { return {chars, length}; }
    TokenSpan sorted_tokens() const noexcept { return {sorted.items, sorted_count}; }
    TokenSpan distinct_tokens() const noexcept { return {distinct.items, distinct_count}; }
};

// The joined lengths and counts of the distinct tokens of both texts
// (common), of the query only (only_a) and of the choice only (only_b).
struct QueryRatios::TokenParts {
    std::size_t common = 0, common_count = 0;
    std::size_t only_a = 0, only_a_count = 0;
    std::size_t only_b = 0, only_b_count = 0;

    bool one_holds_other() const noexcept { return common_count != 0 && (only_a_count == 0 || only_b_count == 0); }
    // The two texts of one side's tokens differ by at least their lengths'
    // difference.
    std::size_t least_distance() const noexcept { return gap(only_a, only_b); }

    // set_ratio_of's value when the texts of one side's tokens are `dist`
    // apart: the same formula, so that it never decreases as dist falls
    // (the value at least_distance() bounds it, rounding included).
    double set_ratio_with(std::size_t dist) const noexcept {
        const std::size_t separator = common != 0;
        const std::size_t common_a = common + separator + only_a;
        const std::size_t common_b = common + separator + only_b;
        const double either = set_ratio(dist, common_a + common_b);
        if (common == 0) return either;
        const double with_a = set_ratio(separator + only_a, common + common_a);
        const double with_b = set_ratio(separator + only_b, common + common_b);
        return std::max({either, with_a, with_b});
    }
};

QueryRatios::QueryRatios(std::string_view query)
    : prepared_(query),
      distinct_joined_(joined_text(prepared_.distinct_tokens())),
      chars_masks_(prepared_.chars()),
      sorted_masks_(prepared_.sorted_joined()),
      distinct_masks_(distinct_joined_),
      needle_(prepared_.chars()),
      sorted_needle_(prepared_.sorted_joined()) {}

bool QueryRatios::word_bounds(std::string_view choice, WordBounds& bounds) const {
    // Tokens as byte ranges; beyond a few the split on the stack is as cheap.
    constexpr std::size_t kMostTokens = 16;
    struct ByteToken {
        const char* data;
        std::size_t size;
        bool operator==(std::string_view other) const noexcept { return std::string_view(data, size) == other; }
    };
    ByteToken tokens[kMostTokens];
    std::size_t count = 0;
    bounds.one_word = is_plain_ascii_word(choice);
    if (bounds.one_word) {
        tokens[count++] = {choice.data(), choice.size()};
    } else {
        std::size_t start = 0;
        for (std::size_t i = 0; i <= choice.size(); ++i) {
            if (i < choice.size()) {
                const auto byte = static_cast<unsigned char>(choice[i]);
                if (byte >= 0x80) return false;
                if (!text::is_python_whitespace(byte)) continue;
            }
            if (i > start) {
                if (count == kMostTokens) return false;
                tokens[count++] = {choice.data() + start, i - start};
            }
            start = i + 1;
        }
        if (count == 0) return false;
    }
    const TokenSpan query = prepared_.distinct_tokens();
    const auto in_query = [query](const ByteToken& token) {
        return std::any_of(query.begin(), query.end(), [&token](Text word) {
            return std::equal(word.begin(), word.end(), token.data, token.data + token.size,
                              [](char32_t c, char byte) { return c == static_cast<unsigned char>(byte); });
        });
    };
    // The parts' joined lengths from the tokens' (ASCII: one byte each).
    TokenParts parts;
    std::size_t sorted_length = count - 1, common_characters = 0;
    const auto add = [](std::size_t& length, std::size_t& tokens_added, std::size_t size) {
        length += size + (tokens_added != 0);
        ++tokens_added;
    };
    for (std::size_t k = 0; k < count; ++k) {
        sorted_length += tokens[k].size;
        const std::string_view token(tokens[k].data, tokens[k].size);
        if (std::any_of(tokens, tokens + k, [token](const ByteToken& earlier) { return earlier == token; })) continue;
        if (in_query(tokens[k])) {
            add(parts.common, parts.common_count, tokens[k].size);
            common_characters += tokens[k].size;
        } else {
            add(parts.only_b, parts.only_b_count, tokens[k].size);
        }
    }
    parts.only_a_count = query.size() - parts.common_count;
    if (parts.only_a_count != 0) {
        const std::size_t query_characters = distinct_joined_.size() - (query.size() - 1);
        parts.only_a = query_characters - common_characters + parts.only_a_count - 1;
    }
    bounds.one_holds_other = parts.one_holds_other();
    bounds.sort = length_bound(prepared_.sorted_joined().size(), sorted_length);
    bounds.set = parts.set_ratio_with(parts.least_distance());
    return true;
}

std::size_t QueryRatios::ascii_distance(std::string_view choice, Text query_text, const CachedLcsSeq& masks) const {
    char32_t chars[Choice::kRoom];
    if (choice.size() > Choice::kRoom) return indel_distance(query_text, text::decode_code_points(choice));
    std::copy(choice.begin(), choice.end(), chars);
    return query_text.size() + choice.size() - 2 * masks.similarity(Text(chars, choice.size()));
}

QueryRatios::TokenParts QueryRatios::parts_of(const Choice& choice) const {
    TokenParts parts;
    const TokenSpan a = prepared_.distinct_tokens(), b = choice.distinct_tokens();
    std::size_t i = 0, j = 0;
    const auto add = [](std::size_t& length, std::size_t& count, Text token) {
        length += token.size() + (count != 0);
        ++count;
    };
    while (i < a.size() && j < b.size()) {
        const int order = a[i].compare(b[j]);
        if (order < 0) {
            add(parts.only_a, parts.only_a_count, a[i++]);
        } else if (order > 0) {
            add(parts.only_b, parts.only_b_count, b[j++]);
        } else {
            add(parts.common, parts.common_count, a[i++]);
            ++j;
        }
    }
    for (; i < a.size(); ++i) add(parts.only_a, parts.only_a_count, a[i]);
    for (; j < b.size(); ++j) add(parts.only_b, parts.only_b_count, b[j]);
    return parts;
}

double QueryRatios::set_score(const Choice& choice, const TokenParts& parts) const {
    TokenRoom<Choice::kTokenRoom> kept_tokens;
    char32_t joined[Choice::kRoom];
    const std::size_t count = tokens_outside(choice.distinct_tokens(), prepared_.distinct_tokens(), kept_tokens.items);
    const Text only_b = join_onto(TokenSpan(kept_tokens.items, count), joined);
    std::size_t dist;
    if (parts.common_count == 0) {
        dist = distinct_joined_.size() + only_b.size() - 2 * distinct_masks_.similarity(only_b);
    } else {
        thread_local Tokens only_a_tokens;
        only_a_tokens.resize(prepared_.distinct_tokens().size());
        only_a_tokens.resize(
            tokens_outside(prepared_.distinct_tokens(), choice.distinct_tokens(), only_a_tokens.data()));
        dist = indel_distance(joined_side(only_a_tokens, false), only_b);
    }
    return parts.set_ratio_with(dist);
}

double QueryRatios::sort_score(const Choice& choice) const {
    char32_t joined[Choice::kRoom];
    const Text sorted = join_onto(choice.sorted_tokens(), joined);
    const std::size_t lensum = prepared_.sorted_joined().size() + sorted.size();
    return indel_ratio(lensum - 2 * sorted_masks_.similarity(sorted), lensum);
}

double QueryRatios::chars_score(const Choice& choice) const {
    const std::size_t lensum = prepared_.chars().size() + choice.length;
    return indel_ratio(lensum - 2 * chars_masks_.similarity(choice.characters()), lensum);
}

double QueryRatios::token_score(const Choice& choice, const TokenParts& parts, double bar) const {
    if (parts.one_holds_other()) return 100;
    const double sort_bound = length_bound(prepared_.sorted_joined().size(), joined_length(choice.sorted_tokens()));
    const double set_bound = parts.set_ratio_with(parts.least_distance());
    // Each part is exact when it may reach the bar; the other then stays
    // below its bound, below the bar.
    const double sorted = sort_bound < bar ? sort_bound : sort_score(choice);
    const double set = set_bound < bar ? set_bound : set_score(choice, parts);
    return std::max(sorted, set);
}

double QueryRatios::ratio(std::string_view choice, double bar, double score_cutoff) const {
    Choice split;
    if (!split.decode(choice)) return fuzz::ratio(prepared_, prepared_choice(choice), score_cutoff);
    const std::size_t length = prepared_.chars().size();
    const double bound = length_bound(length, split.length);
    if (bound < bar) return bound;
    return kept(chars_score(split), score_cutoff);
}

double QueryRatios::qratio(std::string_view choice, double bar, double score_cutoff) const {
    if (prepared_.chars().empty() || choice.empty()) return 0;
    return ratio(choice, bar, score_cutoff);
}

double QueryRatios::token_sort_ratio(std::string_view choice, double bar, double score_cutoff) const {
    WordBounds word;
    if (word_bounds(choice, word)) {
        if (word.sort < bar) return word.sort;
        if (word.one_word) {
            const std::size_t lensum = prepared_.sorted_joined().size() + choice.size();
            return kept(indel_ratio(ascii_distance(choice, prepared_.sorted_joined(), sorted_masks_), lensum),
                        score_cutoff);
        }
    }
    Choice split;
    if (!split.decode(choice)) return fuzz::token_sort_ratio(prepared_, prepared_choice(choice), score_cutoff);
    split.split();
    const double bound = length_bound(prepared_.sorted_joined().size(), joined_length(split.sorted_tokens()));
    if (bound < bar) return bound;
    return kept(sort_score(split), score_cutoff);
}

double QueryRatios::token_set_ratio(std::string_view choice, double bar, double score_cutoff) const {
    WordBounds word;
    if (!prepared_.distinct_tokens().empty() && word_bounds(choice, word)) {
        if (word.one_holds_other) return kept(100, score_cutoff);
        if (word.set < bar) return word.set;
        // No token in common: the query's distinct tokens against the word.
        if (word.one_word) {
            const std::size_t lensum = distinct_joined_.size() + choice.size();
            return kept(set_ratio(ascii_distance(choice, distinct_joined_, distinct_masks_), lensum), score_cutoff);
        }
    }
    Choice split;
    if (!split.decode(choice)) return fuzz::token_set_ratio(prepared_, prepared_choice(choice), score_cutoff);
    split.split();
    if (prepared_.distinct_tokens().empty() || split.distinct_count == 0) return kept(0, score_cutoff);
    const TokenParts parts = parts_of(split);
    if (parts.one_holds_other()) return kept(100, score_cutoff);
    const double bound = parts.set_ratio_with(parts.least_distance());
    if (bound < bar) return bound;
    return kept(set_score(split, parts), score_cutoff);
}

double QueryRatios::token_ratio(std::string_view choice, double bar, double score_cutoff) const {
    if (score_cutoff > 100) return 0;
    WordBounds word;
    if (word_bounds(choice, word)) {
        if (word.one_holds_other) return kept(100, score_cutoff);
        if (std::max(word.sort, word.set) < bar) return std::max(word.sort, word.set);
    }
    Choice split;
    if (!split.decode(choice)) return fuzz::token_ratio(prepared_, prepared_choice(choice), score_cutoff);
    split.split();
    const double score = token_score(split, parts_of(split), bar);
    return score < bar ? score : kept(score, score_cutoff);
}

double QueryRatios::wratio(std::string_view choice, double bar, double score_cutoff) const {
    if (score_cutoff > 100) return 0;
    const std::size_t len1 = prepared_.chars().size();
    WordBounds word;
    // Below a length ratio of 1.5 WRatio is the better of the ratio and the
    // token ratio scaled (wratio_of); from 1.5 the partial ratios take part.
    if (len1 != 0 && word_bounds(choice, word) && length_ratio(len1, choice.size()) < 1.5) {
        const double token_bound = word.one_holds_other ? 100 : std::max(word.sort, word.set);
        const std::size_t len2 = choice.size();
        const double highest = std::max(length_bound(len1, len2), token_bound * kUnbaseScale);
        if (highest < bar) return highest;
    }
    Choice split;
    if (len1 == 0 || !split.decode(choice) || split.length == 0)
        return kept(wratio_of(prepared_, prepared_choice(choice), &needles_, nullptr), score_cutoff);
    const std::size_t len2 = split.length;
    split.split();
    if (length_ratio(len1, len2) >= 1.5) {
        if (is_one_word(prepared_.chars(), prepared_.sorted_tokens()) &&
            is_one_word(split.characters(), split.sorted_tokens()))
            return kept(word_pair_wratio(split), score_cutoff);
        return kept(wratio_of(prepared_, prepared_choice(choice), &needles_, nullptr), score_cutoff);
    }
    const TokenParts parts = parts_of(split);
    const double end_bound = length_bound(len1, len2);
    double token_bound = 100;
    if (!parts.one_holds_other())
        token_bound = std::max(length_bound(prepared_.sorted_joined().size(), joined_length(split.sorted_tokens())),
                               parts.set_ratio_with(parts.least_distance()));
    const double highest = std::max(end_bound, token_bound * kUnbaseScale);
    if (highest < bar) return highest;
    const double end_ratio = chars_score(split);
    const double token_cutoff = end_ratio / kUnbaseScale;
    // The scaled token ratio matters only when it may reach the bar.
    if (token_cutoff > 100 || token_bound * kUnbaseScale < bar) return kept(end_ratio, score_cutoff);
    const double token = token_score(split, parts, -std::numeric_limits<double>::infinity());
    return kept(std::max(end_ratio, kept(token, token_cutoff) * kUnbaseScale), score_cutoff);
}

double QueryRatios::word_pair_wratio(const Choice& choice) const {
    // wratio_of from a length ratio of 1.5 on, for two texts of one token
    // each, no separator: their sorted tokens joined are the texts, and
    // tokens of different lengths have none in common, so the partial
    // token ratio is the partial ratio. Scaled by 0.95 as well it never
    // passes its own cutoff unless the partial ratio alone did, and then it
    // is below it: it leaves the result as it is.
    const std::size_t len1 = prepared_.chars().size(), len2 = choice.length;
    const double end_ratio = chars_score(choice);
    const double partial_scale = length_ratio(len1, len2) <= 8.0 ? 0.9 : 0.6;
    const double cutoff = end_ratio / partial_scale;
    if (cutoff > 100) return end_ratio;
    const double partial = partial_of(prepared_.chars(), choice.characters(), 0, &needle_, nullptr);
    return std::max(end_ratio, kept(partial, cutoff) * partial_scale);
}

}  // namespace vorn::algo::fuzz
