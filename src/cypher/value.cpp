#include "cypher/value.hpp"

#include <cmath>

namespace qm::cypher {

namespace {

// Integers compare exactly with integers, through doubles with floats.
bool as_number(const CypherValue& x, double& out) {
    if (auto* i = std::get_if<std::int64_t>(&x.v)) {
        out = static_cast<double>(*i);
        return true;
    }
    if (auto* f = std::get_if<double>(&x.v)) {
        out = *f;
        return true;
    }
    return false;
}

}  // namespace

bool values_equal(const CypherValue& a, const CypherValue& b) {
    switch (a.v.index()) {
        case 1:
            if (auto* y = std::get_if<bool>(&b.v)) return std::get<bool>(a.v) == *y;
            return false;
        case 2:
            if (auto* y = std::get_if<std::int64_t>(&b.v)) return std::get<std::int64_t>(a.v) == *y;
            [[fallthrough]];
        case 3: {
            double x, y;
            return as_number(a, x) && as_number(b, y) && x == y;
        }
        case 4:
            if (auto* y = std::get_if<std::string>(&b.v)) return std::get<std::string>(a.v) == *y;
            return false;
        case 5:
            if (auto* y = std::get_if<NodeValue>(&b.v)) return std::get<NodeValue>(a.v).record->id == y->record->id;
            return false;
        case 6:
            if (auto* y = std::get_if<EdgeValue>(&b.v)) return std::get<EdgeValue>(a.v).record->id == y->record->id;
            return false;
        default: return false;
    }
}

Ordering compare_values(const CypherValue& a, const CypherValue& b) {
    if (auto* x = std::get_if<std::string>(&a.v)) {
        auto* y = std::get_if<std::string>(&b.v);
        if (!y) return Ordering::Incomparable;
        int c = x->compare(*y);
        return c < 0 ? Ordering::Less : c > 0 ? Ordering::Greater : Ordering::Equal;
    }
    auto* xi = std::get_if<std::int64_t>(&a.v);
    auto* yi = std::get_if<std::int64_t>(&b.v);
    if (xi && yi) return *xi < *yi ? Ordering::Less : *xi > *yi ? Ordering::Greater : Ordering::Equal;
    double x, y;
    if (!as_number(a, x) || !as_number(b, y) || std::isnan(x) || std::isnan(y)) return Ordering::Incomparable;
    return x < y ? Ordering::Less : x > y ? Ordering::Greater : Ordering::Equal;
}

}  // namespace qm::cypher
