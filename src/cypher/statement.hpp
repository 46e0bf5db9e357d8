// The statement model: what the parser produces and the executor runs. Plain data, so a
// test can build or print one; parsing never touches the graph.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cypher/value.hpp"

namespace qm::cypher {

// One kind per expression form the parser accepts; the evaluator switches on it.
enum class ExprKind : std::uint8_t {
    Literal, List, Parameter, VariableRef, Property, Id, ElementId, Labels, Type, StartNode, EndNode,
    CountStar, Count
};

struct Expr {
    ExprKind kind = ExprKind::Literal;
    CypherValue literal;       // Literal
    std::vector<Expr> items;   // List
    std::string name;          // parameter or variable name
    std::string key;           // Property
};

enum class PredicateOp : std::uint8_t { Eq, Ne, Lt, Lte, Gt, Gte, Contains, In };

struct Predicate {
    Expr left;
    PredicateOp op = PredicateOp::Eq;
    Expr right;
};

using PropertyEntries = std::vector<std::pair<std::string, Expr>>;

struct NodePattern {
    std::optional<std::string> variable;
    std::vector<std::string> labels;
    PropertyEntries properties;
};

enum class RelDirection : std::uint8_t { Outgoing, Incoming, Undirected };

struct RelPattern {
    std::optional<std::string> variable;
    std::optional<std::string> rel_type;
    PropertyEntries properties;
    RelDirection direction = RelDirection::Undirected;
};

// Relationship i joins node i (left) and node i + 1 (right).
struct Pattern {
    std::vector<NodePattern> nodes;
    std::vector<RelPattern> relationships;
};

struct ReturnItem {
    std::string column;
    Expr expr;
};

struct OrderItem {
    Expr expr;
    bool descending = false;
};

struct Projection {
    std::vector<ReturnItem> items;
    std::vector<OrderItem> order_by;
    std::optional<std::uint64_t> skip;
    std::optional<std::uint64_t> limit;
};

enum class QueryKind : std::uint8_t { Match, Return, Create, Merge, Union };

struct Query {
    QueryKind kind = QueryKind::Return;
    Pattern pattern;                     // Match, Create, Merge
    std::vector<Predicate> predicates;   // Match
    std::optional<Projection> projection;  // always set for Match and Return
    bool optional = false;               // Match
    std::vector<Query> parts;            // Union

    // CREATE or MERGE, or a UNION with such a part.
    bool writes() const;
};

}  // namespace qm::cypher
