#include "router/tiers.hpp"

namespace vorn::router {

std::optional<Threshold> parse_threshold(std::string_view op, double value) noexcept {
    if (op == "gt" || op == "greater_than") return Threshold{Threshold::Kind::GreaterThan, value, value};
    if (op == "lt" || op == "less_than") return Threshold{Threshold::Kind::LessThan, value, value};
    return std::nullopt;
}

std::optional<Threshold> parse_tier2_threshold(std::string_view op, double value1, double value2) noexcept {
    if (op == "between") return Threshold{Threshold::Kind::Between, value1, value2};
    return parse_threshold(op, value1);
}

}  // namespace vorn::router
