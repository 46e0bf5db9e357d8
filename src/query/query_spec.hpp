// QuerySpec: one connected path node, edge, node, ... with per-element filters, as the
// engine receives it from a caller. The text forms of directions and operators are part of
// the query language; parsing them lives here so every front end says the same thing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/result.hpp"
#include "core/values.hpp"

namespace qm {

// Which way an edge runs relative to the path read left to right.
enum class QueryDirection { Out, In, Both };

// Declaration order is the published operator order.
enum class PropertyOperator { Eq, Ne, Lt, Lte, Gt, Gte, In, Contains };

inline constexpr std::string_view kOperatorTexts[] = {"eq", "ne", "lt", "lte", "gt", "gte", "in", "contains"};
inline constexpr std::string_view kDirectionTexts[] = {"out", "in", "both"};

// "out"/"outgoing", "in"/"incoming", "both"/"all"; exact and case-sensitive.
[[nodiscard]] Result<QueryDirection> parse_query_direction(std::string_view text);
// One of the eight text forms, exact.
[[nodiscard]] Result<PropertyOperator> parse_property_operator(std::string_view text);
// "Eq", "Ne", ... as used in messages.
std::string_view operator_display_name(PropertyOperator op);

// A scalar, or the list an "in" filter tests against.
struct ConstraintValue {
    bool is_list = false;
    PropertyValue scalar;
    std::vector<PropertyValue> list;

    static ConstraintValue of(PropertyValue v) { return ConstraintValue{false, std::move(v), {}}; }
    static ConstraintValue of_list(std::vector<PropertyValue> vs) {
        return ConstraintValue{true, PropertyValue(false), std::move(vs)};
    }
};

struct PropertyConstraint {
    std::string key;
    PropertyOperator op = PropertyOperator::Eq;
    ConstraintValue value;
};

struct NodeElement {
    std::string alias;
    std::optional<std::uint64_t> id;
    std::optional<std::string> external_id;
    std::vector<std::string> labels;
    std::vector<PropertyConstraint> constraints;
};

struct EdgeElement {
    std::optional<std::string> alias;
    std::optional<std::uint64_t> id;
    std::optional<std::string> edge_type;
    QueryDirection direction = QueryDirection::Out;
    std::vector<PropertyConstraint> constraints;
};

using QueryElement = std::variant<NodeElement, EdgeElement>;

struct QuerySpec {
    std::vector<QueryElement> match;
    std::optional<std::vector<std::string>> returns;
    std::optional<std::uint64_t> limit;
};

// The first constraint, in list order, whose value does not suit its operator.
[[nodiscard]] Status validate_property_constraints(const std::vector<PropertyConstraint>& constraints);

}  // namespace qm
