// Threshold operators and the two tier records of the router.
#pragma once

#include <optional>
#include <string_view>

#include "router/algorithm.hpp"

namespace vorn::router {

struct Threshold {
    enum class Kind : std::uint8_t { GreaterThan, LessThan, Between };

    Kind kind;
    double low;   // the bound of GreaterThan and LessThan
    double high;  // used by Between only

    // Strict for GreaterThan and LessThan, inclusive for Between. A NaN
    // score or bound never holds; an inverted range never holds.
    bool holds(double score) const noexcept {
        switch (kind) {
            case Kind::GreaterThan: return score > low;
            case Kind::LessThan: return score < low;
            case Kind::Between: return low <= score && score <= high;
        }
        return false;
    }
};

// "gt", "greater_than", "lt", "less_than"; nothing else (not "between").
std::optional<Threshold> parse_threshold(std::string_view op, double value) noexcept;

// The four names above (value2 ignored) and "between" (value1 low, value2 high).
std::optional<Threshold> parse_tier2_threshold(std::string_view op, double value1, double value2) noexcept;

struct Tier1 {
    Threshold match_threshold;
    Algorithm algorithm;
    Threshold mismatch_threshold;

    // Tier 1 settles a pair only by a score above a greater-than match
    // bound or below a less-than mismatch bound; thresholds of the other
    // direction are kept but never decide.
    bool decides(double score) const noexcept {
        return (match_threshold.kind == Threshold::Kind::GreaterThan && score > match_threshold.low) ||
               (mismatch_threshold.kind == Threshold::Kind::LessThan && score < mismatch_threshold.low);
    }
};

struct Tier2 {
    Algorithm algorithm;
    Threshold threshold;

    bool decides(double score) const noexcept { return threshold.holds(score); }
};

}  // namespace vorn::router
