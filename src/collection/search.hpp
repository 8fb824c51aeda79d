// One query against many choices with a bar that rises as the search finds
// better choices: a bound from the texts' character counts skips a choice
// without scoring it, and the bounded kernels stop early beyond the bar.
// A choice is skipped only when its bound is strictly below the bar, so the
// result (scores, and ties to the lower index) is the unpruned one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "algo/fuzz_ratios.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "collection/pair_scorer.hpp"

namespace vorn::collection {

// The non-null rows of a column grouped by the character count of their
// texts (rows ascending within a group); at most 2^32 rows. Built once for prepared texts: a
// search then visits the counts nearest the query's first and skips whole
// groups its bar rules out.
class LengthIndex {
public:
    struct Group {
        std::size_t length;
        std::size_t begin, end;  // into rows()
    };

    explicit LengthIndex(const StringColumn& column);

    std::span<const Group> groups() const noexcept { return groups_; }
    std::span<const std::uint32_t> rows() const noexcept { return rows_; }
    // The text of rows()[position], from a copy laid out in that order: a
    // group is read from consecutive memory.
    std::string_view text(std::size_t position) const noexcept {
        return std::string_view(bytes_).substr(offsets_[position], offsets_[position + 1] - offsets_[position]);
    }

private:
    std::vector<Group> groups_;
    std::vector<std::uint32_t> rows_;
    std::string bytes_;
    std::vector<std::size_t> offsets_;
};

// What a search may know of its choices' lengths beforehand: a length
// index (prepared texts), or each text's character count (the reader's;
// empty when it had none; nulls may hold any count).
struct ChoiceLengths {
    const LengthIndex* index = nullptr;
    std::span<const std::uint32_t> counts;
};

// Scores of one query against the choices of a scorer, with bounds. The
// RapidFuzz-compatible measures need no per-string data from their scorer:
// the fuzz ratios go through the query prepared once (QueryRatios), which
// bounds each choice itself; the others through the registry.
class QueryScorer {
public:
    QueryScorer(const PairScorer& scorer, std::size_t query);

    std::size_t length() const noexcept { return length_; }

    // No choice of `length` characters scores above highest_similarity
    // (below lowest_distance); the bound may be loose.
    double highest_similarity(std::size_t length) const noexcept;
    std::int64_t lowest_distance(std::size_t length) const noexcept;
    // Whether similarity() bounds each choice by its characters before
    // scoring it (the Jaro measures).
    bool bounds_each_choice() const noexcept { return prefix_weight_ >= 0; }
    // Bounds above the bar by less than this may still reach it.
    double bound_margin() const noexcept { return margin_; }

    // The score of choice j (not null), whose text is `choice` of `length`
    // characters: exact when it reaches `bar`, otherwise any value below it
    // (distances: above).
    double similarity(std::size_t j, std::string_view choice, std::size_t length, double bar) const;
    std::int64_t distance(std::size_t j, std::string_view choice, std::size_t length, std::int64_t bar) const;

private:
    // Levenshtein distance of the query and a choice, exact up to `bound`.
    std::uint64_t levenshtein(std::string_view choice, std::size_t length, std::uint64_t bound) const;

    const PairScorer& scorer_;
    std::size_t query_;
    std::size_t length_;
    double margin_;
    std::variant<std::monostate, algo::CachedLevenshtein, algo::CachedJaroWinkler> pattern_;
    // The RapidFuzz-compatible ratios (vornkit.fuzz): the query prepared
    // once, each choice scored against the bar.
    double fuzz_similarity(std::string_view choice, double bar) const;
    std::optional<algo::fuzz::QueryRatios> ratios_;

    // Jaro's bound from the characters a choice shares with the query.
    double jaro_bound(std::string_view choice, std::size_t length) const noexcept;

    // highest_similarity of the shorter lengths, worked out once.
    std::vector<double> length_bounds_;
    std::u32string points_;  // the query's characters, for small Levenshtein bounds
    bool ascii_ = true;
    double prefix_weight_ = -1;  // Jaro measures: Winkler's weight (0 for plain Jaro); -1 otherwise
    // Per byte of a choice: 1 when it may start a character the query has
    // (an ASCII one of the query's, or any lead byte beyond ASCII), else 0.
    std::array<std::uint8_t, 256> may_share_{};
};

// Whether the search's bounds and scores hold with the scorer's options:
// Levenshtein's weights scale its bounds, Winkler's weight widens its
// bonus, Hamming's refused pairs score below its bounds.
bool bounds_hold_with_options(const ScorerConfig& config) noexcept;

// Whether a search of this many queries goes through the pruned path.
bool prefers_pruned_search(std::size_t queries) noexcept;

// Whether a search of this measure over these many choices without a
// length index visits them in passes by length: the measure has a bound by
// length, and the choices are enough to repay the passes.
bool prefers_length_passes(registry::Measure kind, std::size_t choices) noexcept;

}  // namespace vorn::collection
