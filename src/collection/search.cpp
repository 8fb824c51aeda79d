#include "collection/search.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "text/code_points.hpp"
#include "text/utf8.hpp"

namespace vorn::collection {

using registry::Measure;

namespace {

// Bounds are a few floating operations away from the true limit: a margin
// far above their rounding and far below any gap between two scores.
constexpr double kUnitMargin = 1e-9;

double ratio_bound(std::size_t a, std::size_t b) {
    // Indel needs at least |a - b| edits: 100 * (1 - |a - b| / (a + b)).
    if (a + b == 0) return 100.0;
    const double gap = static_cast<double>(a > b ? a - b : b - a);
    return 100.0 * (1.0 - gap / static_cast<double>(a + b));
}

// WRatio's weights: full ratio, token ratios scaled by 0.95, partial ratios
// by 0.9 (0.6 when one text is over 8 times longer).
double wratio_bound(std::size_t a, std::size_t b) {
    if (a == 0 || b == 0) return 0.0;
    const double longer = static_cast<double>(std::max(a, b)), shorter = static_cast<double>(std::min(a, b));
    const double length_ratio = longer / shorter;
    if (length_ratio < 1.5) return std::max(ratio_bound(a, b), 95.0);
    return std::max(ratio_bound(a, b), length_ratio <= 8.0 ? 90.0 : 60.0);
}

// Winkler's similarity of a pair whose Jaro similarity is at most `jaro`,
// given a bonus of `factor` (prefix length times weight). RapidFuzz's
// measures give the bonus above a Jaro of 0.7 only (vorn's at any Jaro):
// below it (with a margin for rounding) there is none, and with a factor
// above 1 the bonus grows as Jaro falls, the highest being just above 0.7.
double winkler_bound(double jaro, double factor, bool from_threshold) {
    constexpr double kBoostThreshold = 0.7;
    if (!from_threshold) return jaro + factor * (1.0 - jaro);  // vorn's factor is at most 0.4
    if (jaro < kBoostThreshold - kUnitMargin) return jaro;
    if (factor <= 1.0) return jaro + factor * (1.0 - jaro);
    return std::max(jaro, kBoostThreshold) + factor * (1.0 - kBoostThreshold);
}

// Jaro is at most (s / a + s / b + 1) / 3 with s the shorter count (every
// character matched, no transposition); Winkler's bonus counts a prefix of
// at most 4 characters.
double jaro_length_bound(std::size_t a, std::size_t b, double prefix_weight, bool from_threshold) {
    if (a == 0 || b == 0) return 1.0;
    const double shorter = static_cast<double>(std::min(a, b));
    const double jaro = (shorter / static_cast<double>(a) + shorter / static_cast<double>(b) + 1.0) / 3.0;
    return winkler_bound(jaro, 4.0 * prefix_weight, from_threshold);
}

// 1 - |a - b| / longest: the bound of every edit count normalised by the
// longer text (at least |a - b| edits are needed).
double normalized_bound(std::size_t a, std::size_t b, std::size_t longest) {
    if (longest == 0) return 1.0;
    const double gap = static_cast<double>(a > b ? a - b : b - a);
    return 1.0 - gap / static_cast<double>(longest);
}

// The fewest (weighted) edits between texts of q and c characters: turning
// the query into the choice inserts what it lacks, deletes what it has over.
std::uint64_t fewest_edits(std::size_t q, std::size_t c, const registry::Options& options) {
    if (c > q) return (c - q) * options.weights.insertion;
    return (q - c) * options.weights.deletion;
}

// The weight Winkler's bonus may add with: RapidFuzz's measures take the
// caller's (at least 0); vorn's has RapidFuzz's default.
double winkler_weight(const registry::Options& options) { return std::max(options.prefix_weight, 0.0); }

// The highest similarity of texts of q and c characters; infinity for a
// measure with no bound by length.
double similarity_length_bound(const ScorerConfig& config, std::size_t q, std::size_t c) {
    switch (config.kind) {
        case Measure::levenshtein_normalized: {
            // 1 - d / maximum, d at least the weighted length difference.
            const std::uint64_t maximum = algo::levenshtein_maximum(q, c, config.options.weights);
            if (maximum == 0) return 1.0;
            return 1.0 - static_cast<double>(fewest_edits(q, c, config.options)) / static_cast<double>(maximum);
        }
        case Measure::levenshtein_similarity:
        case Measure::hamming_similarity:
        case Measure::hamming_normalized:
        case Measure::osa_normalized:
        case Measure::damerau_levenshtein_normalized:
        case Measure::lcs_seq_normalized: return normalized_bound(q, c, std::max(q, c));
        case Measure::indel_normalized: return normalized_bound(q, c, q + c);
        case Measure::jaro_winkler_similarity: return jaro_length_bound(q, c, winkler_weight(config.options), false);
        case Measure::jaro_winkler_plain:
        case Measure::jaro_winkler_normalized: return jaro_length_bound(q, c, winkler_weight(config.options), true);
        case Measure::jaro_plain:
        case Measure::jaro_normalized: return jaro_length_bound(q, c, 0.0, false);
        case Measure::fuzz_ratio:
        case Measure::fuzz_qratio: return ratio_bound(q, c);
        case Measure::fuzz_wratio: return wratio_bound(q, c);
        default: return std::numeric_limits<double>::infinity();
    }
}

// The unit-cost Levenshtein kernels serve every Levenshtein measure but
// RapidFuzz's with other weights.
bool uses_levenshtein_pattern(const ScorerConfig& config) {
    const Measure kind = config.kind;
    if (kind == Measure::levenshtein_similarity || kind == Measure::levenshtein_distance) return true;
    const algo::LevenshteinWeights& weights = config.options.weights;
    const bool unit = weights.insertion == 1 && weights.deletion == 1 && weights.substitution == 1;
    return unit && (kind == Measure::levenshtein_normalized || kind == Measure::levenshtein_edits);
}

}  // namespace

LengthIndex::LengthIndex(const StringColumn& column) {
    std::vector<std::size_t> counts(column.size());
    std::size_t longest = 0;
    for (std::size_t i = 0; i < column.size(); ++i) {
        if (column.is_null(i)) continue;
        counts[i] = utf8::count_chars(column[i]);
        longest = std::max(longest, counts[i]);
        rows_.push_back(static_cast<std::uint32_t>(i));
    }
    // Rows stay ascending within a count: a counting sort while the counts
    // are few, otherwise a stable sort.
    if (longest <= 4 * rows_.size() + 1024) {
        std::vector<std::size_t> starts(longest + 2, 0);
        for (std::uint32_t row : rows_) ++starts[counts[row] + 1];
        for (std::size_t c = 1; c < starts.size(); ++c) starts[c] += starts[c - 1];
        std::vector<std::uint32_t> sorted(rows_.size());
        for (std::uint32_t row : rows_) sorted[starts[counts[row]]++] = row;
        rows_ = std::move(sorted);
    } else {
        std::stable_sort(rows_.begin(), rows_.end(),
                         [&](std::uint32_t x, std::uint32_t y) { return counts[x] < counts[y]; });
    }
    for (std::size_t p = 0; p < rows_.size(); ++p) {
        const std::size_t count = counts[rows_[p]];
        if (groups_.empty() || groups_.back().length != count) {
            if (!groups_.empty()) groups_.back().end = p;
            groups_.push_back({count, p, p});
        }
    }
    if (!groups_.empty()) groups_.back().end = rows_.size();
    std::size_t total = 0;
    for (std::uint32_t row : rows_) total += column[row].size();
    bytes_.reserve(total);
    offsets_.reserve(rows_.size() + 1);
    offsets_.push_back(0);
    for (std::uint32_t row : rows_) {
        bytes_.append(column[row]);
        offsets_.push_back(bytes_.size());
    }
}

QueryScorer::QueryScorer(const PairScorer& scorer, std::size_t query)
    : scorer_(scorer),
      query_(query),
      length_(utf8::count_chars(scorer.column_a()[query])),
      margin_(registry::is_rapidfuzz(scorer.config().kind) && scorer.config().kind <= Measure::fuzz_qratio
                  ? 100.0 * kUnitMargin
                  : kUnitMargin) {
    const Measure kind = scorer.config().kind;
    if (similarity_length_bound(scorer.config(), 1, 2) < std::numeric_limits<double>::infinity()) {
        constexpr std::size_t kTabulatedLengths = 256;
        length_bounds_.resize(kTabulatedLengths);
        for (std::size_t c = 0; c < kTabulatedLengths; ++c)
            length_bounds_[c] = similarity_length_bound(scorer.config(), length_, c);
    }
    if (uses_levenshtein_pattern(scorer.config())) {
        pattern_.emplace<algo::CachedLevenshtein>(scorer.column_a()[query]);
        ascii_ = utf8::is_ascii(scorer.column_a()[query]);
        if (!ascii_) points_ = text::decode_code_points(scorer.column_a()[query]);
    } else if (kind == Measure::jaro_winkler_similarity) {
        pattern_.emplace<algo::CachedJaroWinkler>(scorer.column_a()[query]);
    } else if (registry::is_rapidfuzz(kind) && kind <= Measure::fuzz_qratio) {
        ratios_.emplace(scorer.column_a()[query]);
    }
    switch (kind) {
        case Measure::jaro_winkler_similarity:
        case Measure::jaro_winkler_plain:
        case Measure::jaro_winkler_normalized: prefix_weight_ = winkler_weight(scorer.config().options); break;
        case Measure::jaro_plain:
        case Measure::jaro_normalized: prefix_weight_ = 0.0; break;
        default: return;
    }
    for (unsigned char byte : scorer.column_a()[query])
        if (byte < 0x80) may_share_[byte] = 1;
    for (std::size_t lead = 0xC0; lead < may_share_.size(); ++lead) may_share_[lead] = 1;
}

double QueryScorer::jaro_bound(std::string_view choice, std::size_t length) const noexcept {
    if (length == 0 || length_ == 0) return 1.0;
    // A matched character of the choice is one of the query's: count the
    // choice's ASCII characters in the query and every other character.
    std::size_t shared = 0;
    // Eight bytes a step, read as a word: texts are short, and a loop of
    // single bytes is turned into vector code that costs more than it saves.
    std::size_t at = 0;
    for (; at + 8 <= choice.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, choice.data() + at, 8);
        for (int shift = 0; shift < 64; shift += 8) shared += may_share_[(word >> shift) & 0xFF];
    }
    for (; at < choice.size(); ++at) shared += may_share_[static_cast<unsigned char>(choice[at])];
    const std::string_view query = scorer_.column_a()[query_];
    std::size_t prefix = 0;
    while (prefix < 4 && prefix < choice.size() && prefix < query.size() && choice[prefix] == query[prefix] &&
           static_cast<unsigned char>(choice[prefix]) < 0x80)
        ++prefix;
    // Past a character beyond ASCII the prefix may go on: assume it does.
    if (prefix < 4 && prefix < choice.size() && prefix < query.size() &&
        (static_cast<unsigned char>(choice[prefix]) >= 0x80 || static_cast<unsigned char>(query[prefix]) >= 0x80))
        prefix = 4;
    const double matches = static_cast<double>(std::min({shared, length, length_}));
    const double jaro = (matches / static_cast<double>(length_) + matches / static_cast<double>(length) + 1.0) / 3.0;
    return winkler_bound(jaro, static_cast<double>(prefix) * prefix_weight_,
                         scorer_.config().kind != Measure::jaro_winkler_similarity);
}

double QueryScorer::highest_similarity(std::size_t length) const noexcept {
    if (length < length_bounds_.size()) return length_bounds_[length];
    return similarity_length_bound(scorer_.config(), length_, length);
}

std::int64_t QueryScorer::lowest_distance(std::size_t length) const noexcept {
    // Every distance here counts edits, at least one per missing character
    // (weighted for RapidFuzz's Levenshtein; the options of the others keep it).
    if (scorer_.config().kind == Measure::levenshtein_edits)
        return static_cast<std::int64_t>(
            std::min<std::uint64_t>(fewest_edits(length_, length, scorer_.config().options), kUnbounded));
    return static_cast<std::int64_t>(length_ > length ? length_ - length : length - length_);
}

std::uint64_t QueryScorer::levenshtein(std::string_view choice, std::size_t length, std::uint64_t bound) const {
    constexpr std::size_t kDecoded = 64;
    if (bound <= algo::kSmallDistance && (utf8::is_ascii(choice) || length < kDecoded)) {
        const std::string_view query = scorer_.column_a()[query_];
        const auto* query_bytes = reinterpret_cast<const unsigned char*>(query.data());
        const auto with_choice = [&](const auto* characters, std::size_t count) {
            return ascii_ ? algo::small_levenshtein_distance(query_bytes, query.size(), characters, count, bound)
                          : algo::small_levenshtein_distance(points_.data(), points_.size(), characters, count, bound);
        };
        if (utf8::is_ascii(choice))
            return with_choice(reinterpret_cast<const unsigned char*>(choice.data()), choice.size());
        char32_t decoded[kDecoded];
        std::size_t count = 0;
        for (char32_t c : text::CodePoints(choice)) {
            if (count == kDecoded) break;  // invalid UTF-8 can decode to more than `length`
            decoded[count++] = c;
        }
        if (count <= length) return with_choice(decoded, count);
    }
    return std::get<algo::CachedLevenshtein>(pattern_).distance(choice, bound);
}

double QueryScorer::similarity(std::size_t j, std::string_view choice, std::size_t length, double bar) const {
    if (std::holds_alternative<algo::CachedLevenshtein>(pattern_)) {
        const std::size_t longest = std::max(length_, length);
        const std::int64_t bound = distance_bound(bar, longest);
        const auto d = levenshtein(choice, length, static_cast<std::uint64_t>(bound));
        if (bound != kUnbounded && d > static_cast<std::uint64_t>(bound))
            return -std::numeric_limits<double>::infinity();
        return levenshtein_similarity_of(static_cast<std::int64_t>(d), length_, length);
    }
    if (ratios_) return fuzz_similarity(choice, bar);
    if (prefix_weight_ >= 0 && jaro_bound(choice, length) < bar - margin_)
        return -std::numeric_limits<double>::infinity();
    if (const auto* pattern = std::get_if<algo::CachedJaroWinkler>(&pattern_)) return pattern->similarity(choice);
    const ScorerConfig& config = scorer_.config();
    if (registry::is_rapidfuzz(config.kind))
        return registry::rapidfuzz_similarity(config.kind, scorer_.column_a()[query_], choice, config.score_cutoff,
                                              config.options);
    return scorer_.similarity(query_, j);
}

double QueryScorer::fuzz_similarity(std::string_view choice, double bar) const {
    const algo::fuzz::QueryRatios& query = *ratios_;
    const double cutoff = scorer_.config().score_cutoff;
    switch (scorer_.config().kind) {
        case Measure::fuzz_ratio: return query.ratio(choice, bar, cutoff);
        case Measure::fuzz_qratio: return query.qratio(choice, bar, cutoff);
        case Measure::fuzz_token_sort_ratio: return query.token_sort_ratio(choice, bar, cutoff);
        case Measure::fuzz_token_set_ratio: return query.token_set_ratio(choice, bar, cutoff);
        case Measure::fuzz_token_ratio: return query.token_ratio(choice, bar, cutoff);
        case Measure::fuzz_wratio: return query.wratio(choice, bar, cutoff);
        default: {
            // The partial ratios: the query's preparation is kept.
            thread_local algo::fuzz::PreparedText prepared;
            prepared.assign(choice);
            return registry::fuzz_similarity(scorer_.config().kind, query.prepared(), prepared, cutoff);
        }
    }
}

std::int64_t QueryScorer::distance(std::size_t j, std::string_view choice, std::size_t length, std::int64_t bar) const {
    if (std::holds_alternative<algo::CachedLevenshtein>(pattern_)) {
        const auto bound = bar >= kUnbounded ? UINT64_MAX - 1 : static_cast<std::uint64_t>(bar);
        return static_cast<std::int64_t>(
            std::min<std::uint64_t>(levenshtein(choice, length, bound), static_cast<std::uint64_t>(kUnbounded)));
    }
    if (registry::is_rapidfuzz(scorer_.config().kind)) {
        // Counts fit an int64: they are at most a few times the texts' lengths.
        const auto d = static_cast<std::int64_t>(registry::rapidfuzz_distance(
            scorer_.config().kind, scorer_.column_a()[query_], choice, scorer_.config().options));
        return std::min(d, bar + 1);
    }
    return scorer_.distance(query_, j, bar);
}

bool prefers_length_passes(Measure kind, std::size_t choices) noexcept {
    constexpr std::size_t kFewChoices = 4096;
    if (choices < kFewChoices) return false;
    // Every distance is bounded by the length difference.
    return is_distance(kind) ||
           similarity_length_bound(ScorerConfig{.kind = kind}, 1, 2) < std::numeric_limits<double>::infinity();
}

bool bounds_hold_with_options(const ScorerConfig& config) noexcept {
    switch (registry::option_of(config.kind)) {
        case registry::Option::none: return config.options.are_defaults();
        case registry::Option::weights:        // scaled into fewest_edits
        case registry::Option::prefix_weight:  // winkler_weight
        case registry::Option::pad: return true;
    }
    return false;
}

bool prefers_pruned_search(std::size_t queries) noexcept {
    // Many queries share the tile kernels' prepared choices instead.
    return queries <= 8;
}

}  // namespace vorn::collection
