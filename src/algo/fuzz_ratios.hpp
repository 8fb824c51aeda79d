// The fuzzy-matching ratios of RapidFuzz's fuzz module, computed the same
// way to the last bit: scores in [0, 100] built on the Indel distance over
// code points.
//
// Every function takes UTF-8 texts and a cutoff: a score below it comes out
// as 0, a score that reaches it is kept. Where one ratio feeds another
// (WRatio), the inner cutoffs are applied as the composed formula defines
// them, since they decide the result in rounding corners.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include "algo/lcs_seq.hpp"

namespace vorn::algo::fuzz {

// Where partial_ratio found its score: characters src_start..src_end of
// the first text against dest_start..dest_end of the second.
struct ScoreAlignment {
    double score = 0;
    std::size_t src_start = 0;
    std::size_t src_end = 0;
    std::size_t dest_start = 0;
    std::size_t dest_end = 0;
};

// 100 * (1 - indel / (len a + len b)); 100 for two empty texts.
double ratio(std::string_view a, std::string_view b, double score_cutoff = 0);

// The best ratio of the shorter text against every window of the longer
// one of the shorter one's length, including the windows cut short at
// either end; 100 for two empty texts, 0 when only one is empty.
ScoreAlignment partial_ratio_alignment(std::string_view a, std::string_view b, double score_cutoff = 0);
double partial_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);

// Ratios over the whitespace-separated tokens, sorted.
double token_sort_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);
double partial_token_sort_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);
// Ratios over the common tokens and the tokens of one text only; 0 when a
// text has no token, 100 when one token set holds the other.
double token_set_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);
double partial_token_set_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);
// The better of the sort and the set ratio (resp. their partial forms).
double token_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);
double partial_token_ratio(std::string_view a, std::string_view b, double score_cutoff = 0);

// Weighted combination of the ratios, by the length ratio of the texts.
double wratio(std::string_view a, std::string_view b, double score_cutoff = 0);
// ratio, but 0 when either text is empty.
double qratio(std::string_view a, std::string_view b, double score_cutoff = 0);

// A text decoded and split once, for scoring against many others: its
// code points, its tokens sorted by code point (views into the code
// points), the distinct ones, and the sorted tokens joined by single
// spaces. Moving it keeps the views valid.
class PreparedText {
public:
    PreparedText() = default;  // the empty text
    // Without `with_tokens` only the code points are kept (the token views
    // are empty): enough for the ratios over the whole text.
    explicit PreparedText(std::string_view text, bool with_tokens = true);
    // Prepares another text in this one's memory (a loop over many texts
    // allocates only for the longest).
    void assign(std::string_view text, bool with_tokens = true);

    std::u32string_view chars() const noexcept { return {storage_.data(), length_}; }
    std::u32string_view sorted_joined() const noexcept {
        return {storage_.data() + length_, storage_.size() - length_};
    }
    std::span<const std::u32string_view> sorted_tokens() const noexcept {
        return std::span(tokens_).first(sorted_count_);
    }
    std::span<const std::u32string_view> distinct_tokens() const noexcept {
        return std::span(tokens_).subspan(sorted_count_);
    }

private:
    // The code points, then the sorted tokens joined: one allocation, which
    // the token views point into.
    std::vector<char32_t> storage_;
    std::size_t length_ = 0;
    // The sorted tokens, then the distinct ones.
    std::vector<std::u32string_view> tokens_;
    std::size_t sorted_count_ = 0;
};

// The ratios of two prepared texts: each equals the function of the same
// name on the two UTF-8 texts.
double ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double partial_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double token_sort_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double partial_token_sort_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double token_set_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double partial_token_set_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double token_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double partial_token_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double wratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);
double qratio(const PreparedText& a, const PreparedText& b, double score_cutoff = 0);

// 100 * (1 - dist / lensum): the Indel similarity normalised, then scaled
// (inline: batch kernels convert whole rows of counts with it).
inline double indel_ratio(std::size_t dist, std::size_t lensum) noexcept {
    const double normalized = lensum == 0 ? 0.0 : static_cast<double>(dist) / static_cast<double>(lensum);
    return (1.0 - normalized) * 100;
}

// A text prepared as partial_ratio's needle (the shorter text, compared
// with every window of the other): its masks and the set of its
// characters. It keeps a view of the text, which must outlive it.
class PartialNeedle {
public:
    explicit PartialNeedle(std::u32string_view needle);

    std::u32string_view text() const noexcept { return text_; }
    const CachedLcsSeq& masks() const noexcept { return masks_; }
    // The masks of the needle reversed: its similarity with every window
    // that ends with the haystack comes from one backward pass.
    const CachedLcsSeq& reversed_masks() const noexcept { return reversed_masks_; }
    // Whether the needle has the character c: a window cut short can only
    // improve on a shorter one by ending (starting) on such a character.
    bool contains(char32_t c) const noexcept;

private:
    std::u32string_view text_;
    CachedLcsSeq masks_;
    CachedLcsSeq reversed_masks_;
    bool ascii_[128] = {};
    std::vector<char32_t> others_;  // sorted
};

// partial_ratio with both texts' needles prepared (a batch prepares each
// once for many pairs; only the shorter text's is read).
double partial_ratio(const PreparedText& a, const PreparedText& b, double score_cutoff, const PartialNeedle& needle_a,
                     const PartialNeedle& needle_b);

// A text's needles for WRatio: of its characters and of its sorted
// tokens joined.
struct WRatioNeedles {
    const PartialNeedle& chars;
    const PartialNeedle& sorted;
};
double wratio(const PreparedText& a, const PreparedText& b, double score_cutoff, WRatioNeedles needles_a,
              WRatioNeedles needles_b);

// ratio from the length of a longest common subsequence of two texts of
// len_a and len_b code points (how a batch kernel's LCS becomes the ratio).
inline double ratio_from_lcs(std::size_t lcs, std::size_t len_a, std::size_t len_b, double score_cutoff = 0) noexcept {
    const std::size_t lensum = len_a + len_b;
    const double score = indel_ratio(lensum - 2 * lcs, lensum);
    return score >= score_cutoff ? score : 0.0;
}

// One text compared with many by the ratios over whole texts and tokens:
// decoded and split once, with the masks of the texts each ratio compares
// (its characters, its sorted tokens joined, its distinct tokens joined).
// Each score takes a bar: a choice whose score reaches the bar gets the
// very value of the function of the same name (query first); any other
// gets some value below the bar, often from a bound on the lengths of the
// texts compared, without comparing them. Choices are decoded and split
// on the stack. Not copyable: the masks stay where they are made.
class QueryRatios {
public:
    explicit QueryRatios(std::string_view query);
    QueryRatios(const QueryRatios&) = delete;
    QueryRatios& operator=(const QueryRatios&) = delete;

    const PreparedText& prepared() const noexcept { return prepared_; }

    double ratio(std::string_view choice, double bar, double score_cutoff) const;
    double qratio(std::string_view choice, double bar, double score_cutoff) const;
    double token_sort_ratio(std::string_view choice, double bar, double score_cutoff) const;
    double token_set_ratio(std::string_view choice, double bar, double score_cutoff) const;
    double token_ratio(std::string_view choice, double bar, double score_cutoff) const;
    double wratio(std::string_view choice, double bar, double score_cutoff) const;

private:
    struct Choice;
    struct TokenParts;
    // The bounds of the sort and set ratios for a choice of ASCII
    // characters and a few tokens, found from its bytes without decoding or
    // sorting it (100 when one token set holds the other).
    struct WordBounds {
        bool one_word = false;  // a single token, no separator: its own sorted and distinct text
        bool one_holds_other = false;
        double sort = 100, set = 100;
    };

    bool word_bounds(std::string_view choice, WordBounds& bounds) const;

    TokenParts parts_of(const Choice& choice) const;
    // The set ratio's exact value, once its bound reaches the bar.
    double set_score(const Choice& choice, const TokenParts& parts) const;
    double sort_score(const Choice& choice) const;
    double chars_score(const Choice& choice) const;
    // token_ratio's value (as token_ratio without a cutoff), or below bar.
    double token_score(const Choice& choice, const TokenParts& parts, double bar) const;
    double word_pair_wratio(const Choice& choice) const;
    // The Indel distance of an ASCII text and the query's text of `masks`.
    std::size_t ascii_distance(std::string_view choice, std::u32string_view query_text,
                               const CachedLcsSeq& masks) const;

    PreparedText prepared_;
    std::u32string distinct_joined_;
    CachedLcsSeq chars_masks_, sorted_masks_, distinct_masks_;
    PartialNeedle needle_, sorted_needle_;
    WRatioNeedles needles_{needle_, sorted_needle_};
};

}  // namespace vorn::algo::fuzz
