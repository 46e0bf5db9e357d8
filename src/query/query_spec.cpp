#include "query/query_spec.hpp"

#include "query/query_messages.hpp"

namespace qm {

Result<QueryDirection> parse_query_direction(std::string_view text) {
    if (text == "out" || text == "outgoing") return QueryDirection::Out;
    if (text == "in" || text == "incoming") return QueryDirection::In;
    if (text == "both" || text == "all") return QueryDirection::Both;
    return fail(qmsg::bad_direction(text));
}

Result<PropertyOperator> parse_property_operator(std::string_view text) {
    for (std::size_t i = 0; i < std::size(kOperatorTexts); ++i)
        if (kOperatorTexts[i] == text) return static_cast<PropertyOperator>(i);
    return fail(qmsg::unknown_operator(text));
}

std::string_view operator_display_name(PropertyOperator op) {
    static constexpr std::string_view kNames[] = {"Eq", "Ne", "Lt", "Lte", "Gt", "Gte", "In", "Contains"};
    return kNames[static_cast<int>(op)];
}

Status validate_property_constraints(const std::vector<PropertyConstraint>& constraints) {
    for (const PropertyConstraint& c : constraints) {
        if (c.key.empty()) return fail(std::string(qmsg::kFilterKeyEmpty));
        switch (c.op) {
            case PropertyOperator::In:
                if (!c.value.is_list) return fail(std::string(qmsg::kInNeedsList));
                break;
            case PropertyOperator::Contains:
                if (c.value.is_list || kind_of(c.value.scalar) != ValueKind::String)
                    return fail(std::string(qmsg::kContainsNeedsString));
                break;
            default:
                if (c.value.is_list) return fail(qmsg::operator_needs_scalar(operator_display_name(c.op)));
        }
    }
    return ok();
}

}  // namespace qm
