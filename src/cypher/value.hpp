// CypherValue: the runtime value of the Cypher engine, and the two comparisons every
// clause relies on (value equality and ordering). Node and edge values hold a shared,
// immutable copy of the record, so rows that repeat a node share one copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/records.hpp"

namespace qm::cypher {

struct CypherValue;
using CypherList = std::vector<CypherValue>;
using CypherMap = std::vector<std::pair<std::string, CypherValue>>;  // ordered by key

struct NodeValue {
    std::shared_ptr<const NodeRecord> record;
};
struct EdgeValue {
    std::shared_ptr<const EdgeRecord> record;
};
struct Null {};

// Null, Bool, Int, Float, String, Node, Edge, List, Map: code switches on the variant's
// numeric index (value.cpp, writes.cpp, working_graph.cpp), so this order must not move.
struct CypherValue {
    std::variant<Null, bool, std::int64_t, double, std::string, NodeValue, EdgeValue, CypherList, CypherMap> v;

    CypherValue() = default;
    template <class T>
    CypherValue(T&& x) : v(std::forward<T>(x)) {}

    bool is_null() const { return std::holds_alternative<Null>(v); }
};

enum class Ordering { Less, Equal, Greater, Incomparable };

// Null equals nothing (not even Null); Int and Float meet as doubles; lists and maps are
// never equal; nodes and edges are equal by id.
bool values_equal(const CypherValue& a, const CypherValue& b);
// Strings byte-wise, numbers as above (NaN incomparable); everything else incomparable.
Ordering compare_values(const CypherValue& a, const CypherValue& b);

}  // namespace qm::cypher
