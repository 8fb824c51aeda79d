// The packed-lane tile kernels, written once over an instruction set's lane
// operations `Ops<W>` (W: lane width in bits; see tile_avx2.cpp,
// tile_avx512.cpp and the portable set in tile_kernels.cpp).
//
// A group packs up to Ops::kLanes choices of at most W characters into one
// register: choice k owns bits [k * W, k * W + len_k) of every character's
// mask; the bits above its length are padding. Lane arithmetic (add,
// subtract, shift by one as x + x) never carries from one lane into the
// next, so each lane runs its own bit-parallel algorithm while a query is
// streamed once over all of them.
//
// The kernel of aligned pairs at the end runs each pair in a plain word,
// with the instruction set's compare building the masks.
//
// Include this after every standard and project header it needs and inside the
// instruction set's target region (`#pragma GCC target`, or clang's
// `#pragma clang attribute` with a target attribute): its contents have
// internal linkage, so each instruction set compiles its own copy for its
// own target and no out-of-line copy can leak into a plainer one.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "algo/char_masks.hpp"
#include "collection/tile_texts.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::collection::tile_detail {
namespace {

// Bits 0 .. k - 1, saturating at a whole word.
constexpr std::uint64_t low_bits(std::size_t k) noexcept {
    return k >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
}

// Plain 64-bit words as one lane: the portable kernels, and the scalar
// steps of the pairwise kernel on every instruction set.
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

template <class Ops>
struct LaneGroup {
    static constexpr std::size_t W = Ops::kLaneBits;
    static constexpr std::size_t kLanes = Ops::kLanes;
    static constexpr std::size_t kWords = Ops::kRegisterBits / 64;
    using V = typename Ops::V;

    LaneGroup(const DecodedTexts& choices, std::span<const std::uint32_t> ids)
        : LaneGroup(choices, ids, PackedText(choices, ids)) {}

    // The characters of a group as one text of kRegisterBits characters:
    // lane k's choice from position k * W on, padded with NUL. Padding may
    // match the query: for Levenshtein the bits above a lane's length never
    // reach the bits below, and Jaro counts them as taken from the start.
    struct PackedText {
        std::array<char32_t, Ops::kRegisterBits> chars{};
        std::size_t non_ascii = 0;

        PackedText(const DecodedTexts& choices, std::span<const std::uint32_t> ids) noexcept {
            for (std::size_t k = 0; k < ids.size(); ++k) {
                const char32_t* begin = choices.chars.data() + choices.start[ids[k]];
                const char32_t* end = choices.chars.data() + choices.start[ids[k] + 1];
                std::copy(begin, end, chars.begin() + k * W);
                non_ascii += static_cast<std::size_t>(std::count_if(begin, end, [](char32_t c) { return c >= 128; }));
            }
        }
    };

    LaneGroup(const DecodedTexts& choices, std::span<const std::uint32_t> ids, const PackedText& text)
        : used(ids.size()), masks(text.chars, Ops::kRegisterBits, text.non_ascii) {
        for (std::size_t k = 0; k < used; ++k) {
            choice[k] = ids[k];
            length[k] = choices.start[ids[k] + 1] - choices.start[ids[k]];
            set_lane(length_words, k, low_bits(length[k]));
            set_lane(length_lane_words, k, length[k]);
            set_lane(own_window_high_words, k, window_high(length[k]));
            set_lane(own_window_counter_words, k, window_counter(length[k]));
        }
    }

    // The Jaro match window for a longer text of `longest` characters, as
    // the initial upper edge of the window (the bits below window + 1) and
    // the counter i - window at i = 0.
    static std::size_t match_window(std::size_t longest) noexcept { return longest / 2 == 0 ? 0 : longest / 2 - 1; }
    static std::uint64_t window_high(std::size_t longest) noexcept { return low_bits(match_window(longest) + 1); }
    static std::uint64_t window_counter(std::size_t longest) noexcept {
        return std::uint64_t{0} - match_window(longest);
    }

    // The bits below each lane's length.
    V length_mask() const noexcept { return Ops::load(length_words); }

    // The mask of c over all lanes. Rows of ASCII characters and frequent
    // others are dense; a rare character's may be kept sparse.
    V mask_of(char32_t c) const noexcept {
        const algo::BlockMasks::Row row = masks.find(c);
        if (row.dense != nullptr) return Ops::load(row.dense);
        std::uint64_t words[kWords] = {};
        for (const auto* at = row.sparse_begin; at != row.sparse_end; ++at) words[at->block] = at->bits;
        return Ops::load(words);
    }

    static std::uint64_t lane_of(const std::uint64_t* words, std::size_t k) noexcept {
        const std::uint64_t word = words[k * W / 64] >> (k * W % 64);
        if constexpr (W == 64) return word;
        else return word & low_bits(W);
    }

    static void set_lane(std::uint64_t* words, std::size_t k, std::uint64_t value) noexcept {
        words[k * W / 64] |= (value & low_bits(W)) << (k * W % 64);
    }

    // A register as an array of its lanes.
    using Lane = std::conditional_t<
        W == 8, std::int8_t,
        std::conditional_t<W == 16, std::int16_t, std::conditional_t<W == 32, std::int32_t, std::int64_t>>>;
    static std::array<Lane, kLanes> lanes(V v) noexcept {
        std::array<Lane, kLanes> out;
        static_assert(sizeof out == sizeof v);
        std::memcpy(out.data(), &v, sizeof v);
        return out;
    }

    std::size_t used;  // lanes from `used` on are empty
    std::array<std::uint32_t, kLanes> choice{};
    std::array<std::size_t, kLanes> length{};
    algo::BlockMasks masks;
    // Plain words: groups live in a vector, whose memory need not be
    // aligned for a whole register.
    std::uint64_t length_words[kWords] = {};
    std::uint64_t length_lane_words[kWords] = {};  // each lane's length
    // The window of each lane's own length, right when it is the longer text.
    std::uint64_t own_window_high_words[kWords] = {};
    std::uint64_t own_window_counter_words[kWords] = {};
};

// Levenshtein distances of two texts against every lane, as n + delta[k]:
// the last column's vertical deltas give D[m][n] = n + (+1 deltas) - (-1
// deltas). Two texts at once give the processor two independent chains of
// dependent steps to interleave.
// The vertical deltas of one text's current column (an aggregate: made
// with {Ops::ones(), Ops::zero()}, the column before the first character).
template <class Ops>
struct LevenshteinColumn {
    using V = typename Ops::V;
    V vp, vn;

    // Advances by one text character whose mask is eq.
    void step(V eq, V ones, V one) noexcept {
        const V x = Ops::or_(eq, vn);
        const V d0 = Ops::or_(Ops::xor_(Ops::add(Ops::and_(x, vp), vp), vp), x);
        const V hp = Ops::or_(vn, Ops::andnot(Ops::or_(d0, vp), ones));
        const V hn = Ops::and_(vp, d0);
        const V hp_shifted = Ops::or_(Ops::add(hp, hp), one);
        const V hn_shifted = Ops::add(hn, hn);
        vp = Ops::or_(hn_shifted, Ops::andnot(Ops::or_(d0, hp_shifted), ones));
        vn = Ops::and_(hp_shifted, d0);
    }

    std::array<typename LaneGroup<Ops>::Lane, Ops::kLanes> deltas(const LaneGroup<Ops>& group) const noexcept {
        const V length_mask = group.length_mask();
        return LaneGroup<Ops>::lanes(
            Ops::sub(Ops::popcount(Ops::and_(vp, length_mask)), Ops::popcount(Ops::and_(vn, length_mask))));
    }
};

template <class Ops>
void levenshtein_lanes(const LaneGroup<Ops>& group, const char32_t* a, std::size_t na, const char32_t* b,
                       std::size_t nb, LevenshteinColumn<Ops>& column_a, LevenshteinColumn<Ops>& column_b) {
    using V = typename Ops::V;
    const V ones = Ops::ones();
    const V one = Ops::lane_one();
    const std::size_t both = std::min(na, nb);
    for (std::size_t i = 0; i < both; ++i) {
        column_a.step(group.mask_of(a[i]), ones, one);
        column_b.step(group.mask_of(b[i]), ones, one);
    }
    for (std::size_t i = both; i < na; ++i) column_a.step(group.mask_of(a[i]), ones, one);
    for (std::size_t i = both; i < nb; ++i) column_b.step(group.mask_of(b[i]), ones, one);
}

// Longest common subsequences of two texts against every lane (Hyyro's
// row vector per lane: bit j is 0 when lane character j ends a match).
// Carries and borrows move up only, so a lane's padding bits never reach
// the bits below its length.
template <class Ops>
struct LcsRow {
    using V = typename Ops::V;
    V s;

    void step(V eq) noexcept {
        const V u = Ops::and_(s, eq);
        s = Ops::or_(Ops::add(s, u), Ops::sub(s, u));
    }

    std::array<typename LaneGroup<Ops>::Lane, Ops::kLanes> lengths(const LaneGroup<Ops>& group) const noexcept {
        return LaneGroup<Ops>::lanes(Ops::popcount(Ops::andnot(s, group.length_mask())));
    }
};

template <class Ops>
void lcs_lanes(const LaneGroup<Ops>& group, const char32_t* a, std::size_t na, const char32_t* b, std::size_t nb,
               LcsRow<Ops>& row_a, LcsRow<Ops>& row_b) {
    const std::size_t both = std::min(na, nb);
    for (std::size_t i = 0; i < both; ++i) {
        row_a.step(group.mask_of(a[i]));
        row_b.step(group.mask_of(b[i]));
    }
    for (std::size_t i = both; i < na; ++i) row_a.step(group.mask_of(a[i]));
    for (std::size_t i = both; i < nb; ++i) row_b.step(group.mask_of(b[i]));
}

// The quotients of the final formula, each computed once the way the core
// computes it per pair (integers converted to double, then divided), so a
// lookup gives the very same double.
struct JaroQuotients {
    double ratio[kMaxPackedChars + 1][kMaxPackedChars + 1];  // [a][b] = a / b
    double prefix_bonus[5];                                  // [l] = l * 0.1

    JaroQuotients() noexcept {
        for (std::size_t a = 0; a <= kMaxPackedChars; ++a)
            for (std::size_t b = 0; b <= kMaxPackedChars; ++b)
                ratio[a][b] = static_cast<double>(a) / static_cast<double>(b);
        for (std::size_t l = 0; l < 5; ++l) prefix_bonus[l] = static_cast<double>(l) * 0.1;
    }
};

const JaroQuotients& jaro_quotients() {
    static const JaroQuotients quotients;
    return quotients;
}

// The greedy Jaro matching of text (the first text, A) against every lane
// (B), then the transposition walk, both over all lanes at once:
//   1. the candidates for A[i] are the lane's positions equal to A[i], not
//      yet taken and inside [i - window, i + window]; the lowest wins;
//   2. the k-th matched A[i] pairs with the k-th taken position of B: they
//      differ when that position's bit is clear in A[i]'s mask.
// Then the core's final formula from the matches m, the halved
// transpositions t and the common prefix l (at most 4), in its order of
// operations: ((m / na + m / nb) + (m - t) / m) / 3.0, then
// (1 - jaro) * (l * 0.1) + jaro; 0.0 without matches. text has 1 to
// kMaxPackedChars characters.
template <class Ops>
void jaro_winkler_lanes(const LaneGroup<Ops>& group, const JaroQuotients& quotients, const char32_t* text,
                        std::size_t n, double* scores) {
    using V = typename Ops::V;
    using Group = LaneGroup<Ops>;
    const V ones = Ops::ones();
    const V zero = Ops::zero();
    const V one = Ops::lane_one();

    // Per lane: the window's upper edge (the bits below i + window + 1) and
    // a counter i - window that turns positive once the lower edge moves.
    // The window follows the longer text: the lane's own where it is longer
    // than the query, the query's elsewhere.
    const V lane_longer = Ops::gt_zero(Ops::sub(Ops::load(group.length_lane_words), Ops::broadcast(n)));
    const auto pick = [&](const std::uint64_t* own, std::uint64_t query) {
        return Ops::or_(Ops::and_(lane_longer, Ops::load(own)), Ops::andnot(lane_longer, Ops::broadcast(query)));
    };
    V high = pick(group.own_window_high_words, Group::window_high(n));
    V counter = pick(group.own_window_counter_words, Group::window_counter(n));
    V below = zero;                                    // the bits below i - window
    V taken = Ops::andnot(group.length_mask(), ones);  // padding counts as taken

    V eq[kMaxPackedChars], won[kMaxPackedChars];
    for (std::size_t i = 0; i < n; ++i) {
        eq[i] = group.mask_of(text[i]);
        const V candidates = Ops::and_(Ops::andnot(Ops::or_(taken, below), eq[i]), high);
        won[i] = Ops::and_(candidates, Ops::sub(zero, candidates));
        taken = Ops::or_(taken, won[i]);
        high = Ops::or_(Ops::add(high, high), one);
        counter = Ops::add(counter, one);
        below = Ops::sub(Ops::add(below, below), Ops::gt_zero(counter));
    }

    V left = Ops::and_(taken, group.length_mask());
    V mismatches = zero;
    for (std::size_t i = 0; i < n; ++i) {
        const V unmatched = Ops::eq_zero(won[i]);
        const V next = Ops::and_(left, Ops::sub(zero, left));
        const V differs = Ops::andnot(unmatched, Ops::eq_zero(Ops::and_(eq[i], next)));
        mismatches = Ops::sub(mismatches, differs);
        left = Ops::xor_(left, Ops::andnot(unmatched, next));
    }
    // Bit j of a lane: A[j] equals the lane's character j, for j < 4.
    V prefix = zero;
    V bit = one;
    for (std::size_t j = 0; j < std::min<std::size_t>(n, 4); ++j, bit = Ops::add(bit, bit))
        prefix = Ops::or_(prefix, Ops::and_(eq[j], bit));

    const V length_mask = group.length_mask();
    const auto matches = Group::lanes(Ops::popcount(Ops::and_(taken, length_mask)));
    const auto mismatched = Group::lanes(mismatches);
    const auto prefixes = Group::lanes(Ops::and_(prefix, length_mask));
    // Lanes side by side, so that the divisions and the rest vectorise.
    double sums[Group::kLanes], bonuses[Group::kLanes];
    for (std::size_t k = 0; k < Group::kLanes; ++k) {
        const auto m = static_cast<std::size_t>(matches[k]);
        const auto t = static_cast<std::size_t>(mismatched[k]) / 2;
        sums[k] = (quotients.ratio[m][n] + quotients.ratio[m][group.length[k]]) + quotients.ratio[m - t][m];
        bonuses[k] = quotients.prefix_bonus[std::countr_one(static_cast<unsigned>(prefixes[k]) & 0xF)];
    }
    for (std::size_t k = 0; k < Group::kLanes; ++k) {
        const double jaro = sums[k] / 3.0;
        scores[k] = (1.0 - jaro) * bonuses[k] + jaro;
    }
    for (std::size_t k = 0; k < Group::kLanes; ++k)
        if (matches[k] == 0) scores[k] = 0.0;
}

// The groups of one lane width: the run of choices from `next` on that fit
// it. Choices come sorted by length, so the widths, narrowest first, split
// them into contiguous runs.
template <class Ops>
std::deque<LaneGroup<Ops>> groups_of_width(const DecodedTexts& choices, std::span<const std::uint32_t> ids,
                                           std::size_t& next) {
    std::size_t end = next;
    while (end < ids.size() && choices.start[ids[end] + 1] - choices.start[ids[end]] <= Ops::kLaneBits) ++end;
    std::deque<LaneGroup<Ops>> groups;  // masks stay where they are made
    for (; next < end; next += groups.back().used)
        groups.emplace_back(choices, ids.subspan(next, std::min(Ops::kLanes, end - next)));
    return groups;
}

// The choices of a tile packed into the lane groups of one instruction set,
// built once, read-only afterwards (any number of threads may score
// queries against them at once).
template <template <std::size_t> class Ops, std::size_t... Widths>
class LanePackedChoices final : public PackedChoices {
public:
    LanePackedChoices(const DecodedTexts& choices, std::span<const std::uint32_t> ids) : groups_(build(choices, ids)) {}

    void levenshtein(const DecodedTexts& queries, std::span<const std::uint32_t> query_ids, std::uint64_t* out,
                     std::size_t row_stride, std::uint64_t max_distance) const override {
        const std::uint64_t beyond = beyond_bound(max_distance);
        for_each_group(query_ids, [&]<class O>(const LaneGroup<O>& group, std::span<const std::uint32_t> block) {
            // Lanes are sorted by length; |n - m| bounds each lane's distance.
            const std::size_t shortest = group.length[0], longest = group.length[group.used - 1];
            // The queries not ruled out by length, scored two at a time.
            std::uint32_t scored[kQueryBlock];
            std::size_t count = 0;
            for (const std::uint32_t q : block) {
                const std::size_t n = queries.start[q + 1] - queries.start[q];
                const bool all_beyond =
                    (n < shortest && shortest - n > max_distance) || (n > longest && n - longest > max_distance);
                if (!all_beyond) {
                    scored[count++] = q;
                    continue;
                }
                std::uint64_t* row = out + q * row_stride;
                for (std::size_t k = 0; k < group.used; ++k) row[group.choice[k]] = beyond;
            }
            const auto write = [&](std::uint32_t q, const LevenshteinColumn<O>& column) {
                const std::size_t n = queries.start[q + 1] - queries.start[q];
                const auto delta = column.deltas(group);
                std::uint64_t* row = out + q * row_stride;
                for (std::size_t k = 0; k < group.used; ++k) {
                    const std::uint64_t distance = n + static_cast<std::uint64_t>(static_cast<std::int64_t>(delta[k]));
                    row[group.choice[k]] = bounded_distance(distance, max_distance);
                }
            };
            for (std::size_t i = 0; i < count; i += 2) {
                const std::uint32_t a = scored[i], b = scored[i + 1 < count ? i + 1 : i];
                LevenshteinColumn<O> column_a{O::ones(), O::zero()}, column_b{O::ones(), O::zero()};
                const std::size_t nb = i + 1 < count ? queries.start[b + 1] - queries.start[b] : 0;
                levenshtein_lanes(group, queries.chars.data() + queries.start[a],
                                  queries.start[a + 1] - queries.start[a], queries.chars.data() + queries.start[b], nb,
                                  column_a, column_b);
                write(a, column_a);
                if (i + 1 < count) write(b, column_b);
            }
        });
    }

    void lcs_seq(const CodePointTexts& queries, std::span<const std::uint32_t> query_ids, std::uint64_t* out,
                 std::size_t row_stride) const override {
        for_each_group(query_ids, [&]<class O>(const LaneGroup<O>& group, std::span<const std::uint32_t> block) {
            const auto write = [&](std::uint32_t q, const LcsRow<O>& row) {
                const auto lengths = row.lengths(group);
                std::uint64_t* out_row = out + q * row_stride;
                for (std::size_t k = 0; k < group.used; ++k)
                    out_row[group.choice[k]] = static_cast<std::uint64_t>(lengths[k]);
            };
            for (std::size_t i = 0; i < block.size(); i += 2) {
                const std::uint32_t a = block[i], b = block[i + 1 < block.size() ? i + 1 : i];
                LcsRow<O> row_a{O::ones()}, row_b{O::ones()};
                const std::u32string_view text_a = queries[a];
                const std::u32string_view text_b = i + 1 < block.size() ? queries[b] : std::u32string_view();
                lcs_lanes(group, text_a.data(), text_a.size(), text_b.data(), text_b.size(), row_a, row_b);
                write(a, row_a);
                if (i + 1 < block.size()) write(b, row_b);
            }
        });
    }

    void jaro_winkler(const DecodedTexts& queries, std::span<const std::uint32_t> query_ids, double* out,
                      std::size_t row_stride) const override {
        const JaroQuotients& quotients = jaro_quotients();
        for_each_group(query_ids, [&]<class O>(const LaneGroup<O>& group, std::span<const std::uint32_t> block) {
            double scores[O::kLanes];
            for (const std::uint32_t q : block) {
                const std::size_t begin = queries.start[q], n = queries.start[q + 1] - begin;
                double* row = out + q * row_stride;
                jaro_winkler_lanes(group, quotients, queries.chars.data() + begin, n, scores);
                for (std::size_t k = 0; k < group.used; ++k) row[group.choice[k]] = scores[k];
            }
        });
    }

private:
    static constexpr std::size_t kQueryBlock = 16;
    using Groups = std::tuple<std::deque<LaneGroup<Ops<Widths>>>...>;

    static Groups build(const DecodedTexts& choices, std::span<const std::uint32_t> ids) {
        std::size_t next = 0;
        // Braced initialisers run in order, so each width takes its run.
        return Groups{groups_of_width<Ops<Widths>>(choices, ids, next)...};
    }

    // Calls score(group, block) for every group and block of queries. The
    // queries go in blocks so that the output rows being written stay few
    // (in cache and in the TLB) while all groups pass over them.
    template <class Score>
    void for_each_group(std::span<const std::uint32_t> query_ids, Score score) const {
        for (std::size_t first = 0; first < query_ids.size(); first += kQueryBlock) {
            const auto block = query_ids.subspan(first, std::min(kQueryBlock, query_ids.size() - first));
            std::apply([&](const auto&... lists) { (..., each(lists, block, score)); }, groups_);
        }
    }

    template <class Group, class Score>
    static void each(const std::deque<Group>& groups, std::span<const std::uint32_t> block, Score& score) {
        for (const Group& group : groups) score(group, block);
    }

    Groups groups_;
};

// ---- Aligned pairs ----
// Short unrelated pairs gain nothing from prepared masks. The shorter text
// of a pair, of 1 to 64 characters, is a single-word pattern whose mask for
// each character of the other text comes from comparing that character
// with all of the pattern's at once (`Pattern::match`, the instruction
// set's compare), not from a table filled and cleared for every pair. A
// pattern's bits above its length may match (padding); they never reach
// the bits below. Each of Ops<64>'s lanes then runs one pair.

// The longest text streamed over a pattern this way.
inline constexpr std::size_t kMaxStreamedChars = 256;

// The characters of a text into out[0 .. count) with the core's walk, or
// kMaxStreamedChars + 1 when it has more.
inline std::size_t decode_short(std::string_view text, char32_t* out) noexcept {
    std::size_t count = 0;
    for (const char32_t c : text::CodePoints(text)) {
        if (count == kMaxStreamedChars) return count + 1;
        out[count++] = c;
    }
    return count;
}

// The characters of a text that has none beyond U+00FF, a byte each, into
// out (room for kMaxStreamedChars); false for any other text and for a
// longer one. Such a text is well-formed, and its bytes are the values the
// core's walk yields: ASCII, or C2/C3 and exactly one continuation byte.
inline bool latin1_bytes(std::string_view text, unsigned char* out, std::size_t& count) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t n = 0;
    for (std::size_t i = 0; i < size; ++n) {
        if (n == kMaxStreamedChars) return false;
        const unsigned char byte = s[i];
        if (byte < 0x80) {
            out[n] = byte;
            ++i;
            continue;
        }
        if ((byte & 0xFE) != 0xC2 || i + 1 == size || !utf8::is_continuation(s[i + 1]) ||
            (i + 2 < size && utf8::is_continuation(s[i + 2])))
            return false;
        out[n] = static_cast<unsigned char>((byte & 0x1F) << 6 | (s[i + 1] & 0x3F));
        i += 2;
    }
    count = n;
    return true;
}

// The steps of a byte pattern (see prepare_word_pair) as plain code; an
// instruction set's pattern derives from this and replaces the steps it
// does faster.
template <class Pattern>
struct ByteSteps {
    static bool both_ascii(std::string_view a, std::string_view b) noexcept {
        return utf8::is_ascii(a) && utf8::is_ascii(b);
    }
    static bool latin1(std::string_view text, unsigned char* out, std::size_t& count) noexcept {
        return latin1_bytes(text, out, count);
    }
    // The masks of the text's bytes into eq[j * stride].
    void match_all(std::string_view text, std::uint64_t* eq, std::size_t stride) const noexcept {
        const auto& pattern = static_cast<const Pattern&>(*this);
        for (std::size_t j = 0; j < text.size(); ++j)
            eq[j * stride] = pattern.match(static_cast<unsigned char>(text[j]));
    }
};

// A pair ready for a lane (its masks made), or already scored.
struct WordPair {
    bool scored;
    std::uint64_t distance;  // when scored
    std::size_t m, n;        // pattern and text characters, when not
};

// Writes the masks of the pair's text to eq[j * stride] and the lengths
// to `pair`, or scores the pair there. `BytePattern(text)` takes 1 to 64
// characters below U+0100, a byte each, with the steps of ByteSteps (its
// `match_all` may write masks past the text), `CodePointPattern(chars, m)` m
// characters zero-padded to 64. Pairs with a longer shorter text, a text
// longer than kMaxStreamedChars or one that is not well-formed (the core
// cuts such texts its own way) go to the core. `pair` is written in place,
// field by field: a struct returned from several branches is built in
// memory and read back by one wide load, which waits on the narrow stores.
template <class BytePattern, class CodePointPattern>
void prepare_word_pair(std::string_view a, std::string_view b, std::uint64_t max_distance, std::uint64_t* eq,
                       std::size_t stride, WordPair& pair) {
    const auto scored = [&](std::uint64_t distance) {
        pair.scored = true;
        pair.distance = distance;
    };
    const auto ready = [&](std::size_t m, std::size_t n) {
        pair.scored = false;
        pair.m = m;
        pair.n = n;
    };
    // Both texts a byte a character; false sends the pair to the core.
    const auto byte_pair = [&](std::string_view x, std::string_view y) {
        if (x.size() > y.size()) std::swap(x, y);
        if (x.empty() || y.size() - x.size() > max_distance) {
            scored(y.size() - x.size());
            return true;
        }
        if (x.size() > algo::kWordBits || y.size() > kMaxStreamedChars) return false;
        BytePattern(x).match_all(y, eq, stride);
        ready(x.size(), y.size());
        return true;
    };
    const auto as_view = [](const unsigned char* bytes, std::size_t size) {
        return std::string_view(reinterpret_cast<const char*>(bytes), size);
    };
    unsigned char bytes_a[kMaxStreamedChars], bytes_b[kMaxStreamedChars];
    std::size_t m = 0, n = 0;
    if (BytePattern::both_ascii(a, b)) {
        if (byte_pair(a, b)) return;
    } else if (BytePattern::latin1(a, bytes_a, m) && BytePattern::latin1(b, bytes_b, n)) {
        if (byte_pair(as_view(bytes_a, m), as_view(bytes_b, n))) return;
    } else if (is_well_formed(a) && is_well_formed(b)) {
        char32_t chars_a[kMaxStreamedChars], chars_b[kMaxStreamedChars];
        m = decode_short(a, chars_a);
        n = decode_short(b, chars_b);
        if (m <= kMaxStreamedChars && n <= kMaxStreamedChars) {
            const char32_t* pattern_chars = chars_a;
            const char32_t* text_chars = chars_b;
            if (m > n) {
                std::swap(pattern_chars, text_chars);
                std::swap(m, n);
            }
            if (m == 0 || n - m > max_distance) return scored(n - m);
            if (m <= algo::kWordBits) {
                char32_t padded[algo::kWordBits] = {};
                std::copy_n(pattern_chars, m, padded);
                const CodePointPattern pattern(padded, m);
                for (std::size_t j = 0; j < n; ++j) eq[j * stride] = pattern.match(text_chars[j]);
                return ready(m, n);
            }
        }
    }
    scored(core_pair_distance(a, b, max_distance));
}

// The distances of `count` (at most Ops::kLanes) prepared pairs, pair k's
// masks at eq[j * kLanes + k]. Every lane runs to the longest text and
// keeps its vertical deltas at its own last character (D[m][n] is n plus
// the deltas of the last column); masks past a lane's text are ignored.
template <class Ops>
void word_lane_distances(const std::uint64_t* eq, const WordPair* pairs, std::size_t count,
                         std::uint64_t* distances) noexcept {
    using V = typename Ops::V;
    constexpr std::size_t kLanes = Ops::kLanes;
    std::uint64_t end_words[kLanes] = {};
    std::size_t longest = 0;
    for (std::size_t k = 0; k < count; ++k) longest = std::max(longest, end_words[k] = pairs[k].n);
    const V ends = Ops::load(end_words), ones = Ops::ones(), one = Ops::lane_one();
    LevenshteinColumn<Ops> column{ones, Ops::zero()}, last = column;
    V position = Ops::zero();  // characters streamed
    for (std::size_t j = 0; j < longest; ++j) {
        column.step(Ops::load(eq + j * kLanes), ones, one);
        position = Ops::add(position, one);
        const V ending = Ops::eq_zero(Ops::sub(ends, position));
        last.vp = Ops::or_(Ops::and_(ending, column.vp), Ops::andnot(ending, last.vp));
        last.vn = Ops::or_(Ops::and_(ending, column.vn), Ops::andnot(ending, last.vn));
    }
    std::uint64_t vp[kLanes], vn[kLanes];
    Ops::store(vp, last.vp);
    Ops::store(vn, last.vn);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t length_mask = low_bits(pairs[k].m);
        distances[k] = pairs[k].n + static_cast<std::uint64_t>(std::popcount(vp[k] & length_mask)) -
                       static_cast<std::uint64_t>(std::popcount(vn[k] & length_mask));
    }
}

template <class Ops, class BytePattern, class CodePointPattern>
void levenshtein_pairs_with(std::span<const std::string_view> a, std::span<const std::string_view> b,
                            std::uint64_t* out, std::uint64_t max_distance) {
    static_assert(Ops::kLaneBits == 64);
    constexpr std::size_t kLanes = Ops::kLanes;
    // Stale masks of earlier pairs past a lane's text are never used.
    std::uint64_t eq[kMaxStreamedChars * kLanes] = {};
    WordPair pairs[kLanes];
    std::size_t at[kLanes];
    std::size_t count = 0;
    const auto run_lanes = [&] {
        std::uint64_t distances[kLanes];
        word_lane_distances<Ops>(eq, pairs, count, distances);
        for (std::size_t k = 0; k < count; ++k) out[at[k]] = bounded_distance(distances[k], max_distance);
        count = 0;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        WordPair& pair = pairs[count];
        prepare_word_pair<BytePattern, CodePointPattern>(a[i], b[i], max_distance, eq + count, kLanes, pair);
        if (pair.scored) {
            out[i] = bounded_distance(pair.distance, max_distance);
            continue;
        }
        at[count] = i;
        if (++count == kLanes) run_lanes();
    }
    if (count > 0) run_lanes();
}

}  // namespace
}  // namespace vorn::collection::tile_detail
