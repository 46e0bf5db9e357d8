#include "query/property_filter.hpp"

#include <cstring>

namespace qm {

namespace {

bool same_value(const ValueView& p, const PropertyValue& v, bool exact_floats) {
    if (p.kind != kind_of(v)) return false;
    switch (p.kind) {
        case ValueKind::Bool: return p.b == std::get<bool>(v);
        case ValueKind::Int: return p.i == std::get<std::int64_t>(v);
        case ValueKind::Float: {
            double d = std::get<double>(v);
            if (exact_floats) return std::memcmp(&p.f, &d, sizeof d) == 0;
            return p.f == d;
        }
        case ValueKind::String: return p.s == std::get<std::string>(v);
    }
    return false;
}

bool holds(const ValueView& p, const CompiledConstraint& c, bool exact_floats) {
    const ConstraintValue& v = *c.value;
    switch (c.op) {
        case PropertyOperator::Eq: return !v.is_list && same_value(p, v.scalar, exact_floats);
        case PropertyOperator::Ne: return !v.is_list && !same_value(p, v.scalar, false);
        case PropertyOperator::In:
            if (!v.is_list) return false;
            for (const PropertyValue& x : v.list)
                if (same_value(p, x, false)) return true;
            return false;
        case PropertyOperator::Contains:
            return !v.is_list && kind_of(v.scalar) == ValueKind::String && p.kind == ValueKind::String &&
                   p.s.find(std::get<std::string>(v.scalar)) != std::string_view::npos;
        default: break;
    }
    if (v.is_list || !c.numeric) return false;
    double pv;
    if (p.kind == ValueKind::Int) pv = static_cast<double>(p.i);
    else if (p.kind == ValueKind::Float) pv = p.f;
    else return false;
    const double x = c.as_number;
    switch (c.op) {
        case PropertyOperator::Lt: return pv < x;
        case PropertyOperator::Lte: return !(pv > x);
        case PropertyOperator::Gt: return pv > x;
        case PropertyOperator::Gte: return !(pv < x);
        default: return false;
    }
}

}  // namespace

std::vector<CompiledConstraint> compile_constraints(const std::vector<PropertyConstraint>& constraints,
                                                    const SymbolTable& symbols) {
    std::vector<CompiledConstraint> out;
    out.reserve(constraints.size());
    for (const PropertyConstraint& c : constraints) {
        CompiledConstraint cc;
        if (auto sym = symbols.find(c.key)) cc.key = *sym;
        cc.op = c.op;
        cc.value = &c.value;
        if (!c.value.is_list) {
            if (auto* i = std::get_if<std::int64_t>(&c.value.scalar)) {
                cc.numeric = true;
                cc.as_number = static_cast<double>(*i);
            } else if (auto* d = std::get_if<double>(&c.value.scalar)) {
                cc.numeric = true;
                cc.as_number = *d;
            }
        }
        out.push_back(cc);
    }
    return out;
}

bool properties_match(PackedProps blob, const std::vector<CompiledConstraint>& constraints,
                      bool exact_floats) {
    if (constraints.empty()) return true;
    if (!blob) return false;
    for (const CompiledConstraint& c : constraints) {
        if (c.key == kNoSymbol) return false;
        ValueView p;
        if (!find_property(blob, c.key, p) || !holds(p, c, exact_floats)) return false;
    }
    return true;
}

}  // namespace qm
