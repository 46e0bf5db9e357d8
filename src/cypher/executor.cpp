#include "cypher/executor.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "cypher/engine.hpp"
#include "cypher/messages.hpp"

namespace qm::cypher {

namespace engine {

VarTable::VarTable(const Pattern& pattern) {
    auto add = [this](const std::optional<std::string>& name) {
        if (name && find(std::string_view(*name)) < 0) names_.push_back(*name);
    };
    for (std::size_t i = 0; i < pattern.nodes.size(); ++i) {
        add(pattern.nodes[i].variable);
        if (i < pattern.relationships.size()) add(pattern.relationships[i].variable);
    }
}

namespace {

const Slot* bound(const Ctx& ctx, const Slot* row, std::string_view name) {
    int i = ctx.vars.find(name);
    if (i < 0 || row[i].kind == Slot::Unbound) return nullptr;
    return &row[i];
}

CypherValue node_value(const WorkingGraph& g, std::uint64_t id) {
    if (!g.node_exists(id)) return Null{};
    return NodeValue{g.node_record(id)};
}

CypherValue edge_value(const WorkingGraph& g, std::uint64_t id) {
    if (!g.edge_exists(id)) return Null{};
    return EdgeValue{g.edge_record(id)};
}

}  // namespace

bool can_fail(const Expr& e, const Params& params) {
    switch (e.kind) {
        case ExprKind::Parameter: return params.find(e.name) == params.end();
        case ExprKind::CountStar:
        case ExprKind::Count: return true;
        case ExprKind::List:
            for (const Expr& item : e.items)
                if (can_fail(item, params)) return true;
            return false;
        default: return false;
    }
}

Result<CypherValue> eval_expr(const Ctx& ctx, const Slot* row, const Expr& e) {
    const WorkingGraph& g = ctx.graph;
    switch (e.kind) {
        case ExprKind::Literal: return e.literal;
        case ExprKind::List: {
            CypherList out;
            out.reserve(e.items.size());
            for (const Expr& item : e.items) {
                QM_TRY(v, eval_expr(ctx, row, item));
                out.push_back(std::move(v));
            }
            return CypherValue(std::move(out));
        }
        case ExprKind::Parameter: {
            auto it = ctx.params.find(e.name);
            if (it == ctx.params.end()) return fail(msg::missing_parameter(e.name));
            return it->second;
        }
        case ExprKind::CountStar:
        case ExprKind::Count: return fail(std::string(msg::kAggregateOutsideReturn));
        default: break;
    }
    const Slot* b = bound(ctx, row, e.name);
    if (!b) return CypherValue();
    const bool node = b->kind == Slot::Node;
    switch (e.kind) {
        case ExprKind::VariableRef: return node ? node_value(g, b->id) : edge_value(g, b->id);
        case ExprKind::Property:
            if (node) return g.node_exists(b->id) ? g.node_property(b->id, e.key) : CypherValue();
            return g.edge_exists(b->id) ? g.edge_property(b->id, e.key) : CypherValue();
        case ExprKind::Id: return static_cast<std::int64_t>(b->id);
        case ExprKind::ElementId:
            return std::string(node ? "node:" : "relationship:") + std::to_string(b->id);
        case ExprKind::Labels:
            return node && g.node_exists(b->id) ? g.node_labels(b->id) : CypherValue();
        case ExprKind::Type:
            return !node && g.edge_exists(b->id) ? CypherValue(std::string(g.edge_type(b->id))) : CypherValue();
        case ExprKind::StartNode:
        case ExprKind::EndNode:
            if (node || !g.edge_exists(b->id)) return CypherValue();
            return node_value(g, e.kind == ExprKind::StartNode ? g.edge_source(b->id) : g.edge_target(b->id));
        default: return CypherValue();
    }
}

namespace {

// A stored value compared with an evaluated one, the stored value on the left.
Result<bool> entries_match(const Ctx& ctx, const Slot* row, const PropertyEntries& entries, bool node,
                           std::uint64_t id) {
    for (const auto& [key, expr] : entries) {
        QM_TRY(want, eval_expr(ctx, row, expr));
        CypherValue have = node ? ctx.graph.node_property(id, key) : ctx.graph.edge_property(id, key);
        if (!values_equal(have, want)) return false;
    }
    return true;
}

Result<bool> node_matches(const Ctx& ctx, std::uint64_t id, const NodePattern& p, const Slot* row) {
    for (const auto& label : p.labels)
        if (!ctx.graph.node_has_label(id, label)) return false;
    return entries_match(ctx, row, p.properties, true, id);
}

Result<bool> predicates_match(const Ctx& ctx, const Slot* row, const std::vector<Predicate>& predicates) {
    for (const Predicate& p : predicates) {
        // A failing operand fails the statement: dropping the row would turn a broken
        // query into a quietly empty answer.
        QM_TRY(left, eval_expr(ctx, row, p.left));
        QM_TRY(right, eval_expr(ctx, row, p.right));
        bool holds = false;
        Ordering o = Ordering::Incomparable;
        switch (p.op) {
            case PredicateOp::Eq: holds = values_equal(left, right); break;
            case PredicateOp::Ne: holds = !values_equal(left, right); break;
            case PredicateOp::Lt: holds = compare_values(left, right) == Ordering::Less; break;
            case PredicateOp::Lte:
                o = compare_values(left, right);
                holds = o == Ordering::Less || o == Ordering::Equal;
                break;
            case PredicateOp::Gt: holds = compare_values(left, right) == Ordering::Greater; break;
            case PredicateOp::Gte:
                o = compare_values(left, right);
                holds = o == Ordering::Greater || o == Ordering::Equal;
                break;
            case PredicateOp::Contains: {
                auto* l = std::get_if<std::string>(&left.v);
                auto* r = std::get_if<std::string>(&right.v);
                holds = l && r && l->find(*r) != std::string::npos;
                break;
            }
            case PredicateOp::In:
                if (auto* list = std::get_if<CypherList>(&right.v))
                    for (const CypherValue& item : *list)
                        if (values_equal(left, item)) {
                            holds = true;
                            break;
                        }
                break;
        }
        if (!holds) return false;
    }
    return true;
}

bool is_constant(const Expr& e) {
    if (e.kind == ExprKind::Literal || e.kind == ExprKind::Parameter) return true;
    if (e.kind != ExprKind::List) return false;
    for (const Expr& item : e.items)
        if (!is_constant(item)) return false;
    return true;
}

// How the matcher finds its start nodes: plain data a debugger or a test can print.
enum class StartPlan : std::uint8_t { AllNodes, Label, PropertyValue };

struct Start {
    StartPlan plan = StartPlan::AllNodes;
    std::vector<std::uint64_t> ids;
};

// Where matching starts. Every live node is a candidate in the plain algorithm, and each
// is tested by labels first, then by its property entries in order. An index can stand in
// for that scan only when it lists every node that could pass, in ascending order, and
// when skipping the others cannot skip an error the scan would raise:
//  - a property entry with a constant value (literal, parameter, list of them) names its
//    candidates through the value index, once every entry of the pattern evaluates
//    without error (constants evaluate the same for every node, so none of them can
//    fail later either); otherwise every node is scanned, so the error a row raises is the
//    one the first failing node raises;
//  - a label names its candidates through the label index (labels are tested before any
//    entry is evaluated, so nodes without the label never evaluate anything);
//  - else every node.
// Candidates are still tested in full by node_matches.
Start choose_start(const Ctx& ctx, const NodePattern& first, std::vector<Slot>& scratch) {
    Start s;
    const WorkingGraph& g = ctx.graph;
    bool constants = !first.properties.empty();
    for (const auto& entry : first.properties)
        if (!is_constant(entry.second)) constants = false;
    if (constants) {
        std::vector<CypherValue> values;
        for (const auto& entry : first.properties) {
            auto v = eval_expr(ctx, scratch.data(), entry.second);
            if (!v) {
                constants = false;
                break;
            }
            values.push_back(std::move(*v));
        }
        for (std::size_t i = 0; constants && i < values.size(); ++i) {
            std::vector<std::uint64_t> ids;
            if (g.nodes_with_value(first.properties[i].first, values[i], ids)) {
                s.plan = StartPlan::PropertyValue;
                s.ids = std::move(ids);
                return s;
            }
        }
    }
    if (!first.labels.empty()) {
        const std::string* rarest = &first.labels[0];
        for (const auto& label : first.labels)
            if (g.label_size(label) < g.label_size(*rarest)) rarest = &label;
        s.plan = StartPlan::Label;
        g.nodes_with_label(*rarest, s.ids);
        return s;
    }
    g.all_nodes(s.ids);
    return s;
}

class Matcher {
public:
    Matcher(const Ctx& ctx, const Pattern& p, const std::vector<Predicate>& preds, std::size_t want, Rows& out)
        : ctx_(ctx), p_(p), preds_(preds), want_(want), out_(out), cur_(ctx.vars.size()) {
        node_slot_.reserve(p.nodes.size());
        for (const auto& n : p.nodes) node_slot_.push_back(ctx.vars.find(n.variable));
        for (const auto& r : p.relationships) rel_slot_.push_back(ctx.vars.find(r.variable));
        ways_.reserve(p.relationships.size());
        for (const auto& r : p.relationships)
            ways_.push_back(r.direction == RelDirection::Outgoing   ? Way::Out
                            : r.direction == RelDirection::Incoming ? Way::In
                                                                    : Way::Both);
    }

    Status run() {
        if (p_.nodes.empty()) return ok();
        Start start = choose_start(ctx_, p_.nodes[0], cur_);
        for (std::uint64_t c : start.ids) {
            std::fill(cur_.begin(), cur_.end(), Slot{});
            if (node_slot_[0] >= 0) cur_[node_slot_[0]] = Slot{Slot::Node, c};
            QM_TRY(hit, node_matches(ctx_, c, p_.nodes[0], cur_.data()));
            if (hit) QM_CHECK(expand(0, c));
            if (done()) break;
        }
        return ok();
    }

private:
    bool done() const { return want_ != 0 && out_.count >= want_; }

    Status complete() {
        if (!preds_.empty()) {
            QM_TRY(keep, predicates_match(ctx_, cur_.data(), preds_));
            if (!keep) return ok();
        }
        out_.push(cur_.data());
        return ok();
    }

    // One relationship and its far node; recursion depth is the pattern's length, which
    // the parser bounds.
    Status expand(std::size_t i, std::uint64_t n) {
        if (i == p_.relationships.size()) return complete();
        const RelPattern& r = p_.relationships[i];
        const NodePattern& far_pattern = p_.nodes[i + 1];
        const int rs = rel_slot_[i], ns = node_slot_[i + 1];
        Status status = ok();
        ctx_.graph.for_each_edge(n, ways_[i], [&](std::uint64_t e, std::uint64_t m) {
            Slot saved_r = rs >= 0 ? cur_[rs] : Slot{};
            Slot saved_n = ns >= 0 ? cur_[ns] : Slot{};
            auto restore = [&] {
                if (ns >= 0) cur_[ns] = saved_n;
                if (rs >= 0) cur_[rs] = saved_r;
            };
            status = step(i, r, far_pattern, rs, ns, e, m);
            restore();
            return status.has_value() && !done();
        });
        return status;
    }

    Status step(std::size_t i, const RelPattern& r, const NodePattern& far_pattern, int rs, int ns, std::uint64_t e,
                std::uint64_t m) {
        if (!ctx_.graph.node_exists(m)) return ok();
        if (rs >= 0) {
            if (cur_[rs].kind != Slot::Unbound) {
                if (cur_[rs].kind != Slot::Edge || cur_[rs].id != e) return ok();
            } else {
                cur_[rs] = Slot{Slot::Edge, e};
            }
        }
        if (r.rel_type && ctx_.graph.edge_type(e) != *r.rel_type) return ok();
        QM_TRY(props_ok, entries_match(ctx_, cur_.data(), r.properties, false, e));
        if (!props_ok) return ok();
        if (ns >= 0) {
            if (cur_[ns].kind != Slot::Unbound) {
                if (cur_[ns].kind != Slot::Node || cur_[ns].id != m) return ok();
            } else {
                cur_[ns] = Slot{Slot::Node, m};
            }
        }
        QM_TRY(hit, node_matches(ctx_, m, far_pattern, cur_.data()));
        if (!hit) return ok();
        return expand(i + 1, m);
    }

    const Ctx& ctx_;
    const Pattern& p_;
    const std::vector<Predicate>& preds_;
    std::size_t want_;
    Rows& out_;
    std::vector<Slot> cur_;
    std::vector<int> node_slot_, rel_slot_;
    std::vector<Way> ways_;
};

bool pattern_can_fail(const Pattern& p, const Params& params) {
    for (const auto& n : p.nodes)
        for (const auto& e : n.properties)
            if (can_fail(e.second, params)) return true;
    for (const auto& r : p.relationships)
        for (const auto& e : r.properties)
            if (can_fail(e.second, params)) return true;
    return false;
}

bool predicates_can_fail(const std::vector<Predicate>& preds, const Params& params) {
    for (const auto& p : preds)
        if (can_fail(p.left, params) || can_fail(p.right, params)) return true;
    return false;
}

// Every non-null key of each column is of one kind, and no float key is NaN.
bool keys_are_uniform(const std::vector<CypherValue>& keys, std::size_t nkeys) {
    for (std::size_t k = 0; k < nkeys; ++k) {
        std::size_t kind = 0;  // the Null alternative: none seen yet
        for (std::size_t i = k; i < keys.size(); i += nkeys) {
            const CypherValue& v = keys[i];
            if (v.is_null()) continue;
            if (auto* f = std::get_if<double>(&v.v); f && std::isnan(*f)) return false;
            if (kind != 0 && v.v.index() != kind) return false;
            kind = v.v.index();
        }
    }
    return true;
}

}  // namespace

Status match_pattern(const Ctx& ctx, const Pattern& pattern, const std::vector<Predicate>& predicates,
                     std::size_t want, Rows& out) {
    out.width = ctx.vars.size();
    // The plain order is: every match, then every filter. Filtering as rows are found, and
    // stopping once enough are kept, gives the same rows and can only change which error
    // is raised first; so it is done only when nothing can fail.
    bool fallible = pattern_can_fail(pattern, ctx.params) || predicates_can_fail(predicates, ctx.params);
    if (!fallible) {
        Matcher m(ctx, pattern, predicates, want, out);
        return m.run();
    }
    static const std::vector<Predicate> kNone;
    Rows all;
    all.width = out.width;
    Matcher m(ctx, pattern, kNone, 0, all);
    QM_CHECK(m.run());
    for (std::size_t i = 0; i < all.count; ++i) {
        QM_TRY(keep, predicates_match(ctx, all.row(i), predicates));
        if (keep) out.push(all.row(i));
    }
    return ok();
}

Result<CypherResult> project_rows(const Ctx& ctx, const Rows& rows, const Projection& proj,
                                  const char* statement_type) {
    CypherResult res;
    res.statement_type = statement_type;
    res.keys.reserve(proj.items.size());
    for (const auto& item : proj.items) res.keys.push_back(item.column);
    bool aggregate = true;
    for (const auto& item : proj.items)
        if (item.expr.kind != ExprKind::CountStar && item.expr.kind != ExprKind::Count) aggregate = false;
    if (aggregate) {
        std::vector<CypherValue> row;
        for (const auto& item : proj.items) {
            std::int64_t n = static_cast<std::int64_t>(rows.count);
            if (item.expr.kind == ExprKind::Count) {
                int slot = ctx.vars.find(std::string_view(item.expr.name));
                n = 0;
                if (slot >= 0)
                    for (std::size_t i = 0; i < rows.count; ++i) n += rows.row(i)[slot].kind != Slot::Unbound;
            }
            row.emplace_back(n);
        }
        res.rows.push_back(std::move(row));
        return res;
    }
    const std::uint64_t skip = proj.skip.value_or(0);
    const std::uint64_t limit = proj.limit.value_or(~std::uint64_t{0});
    auto eval_row = [&](std::size_t i) -> Result<std::vector<CypherValue>> {
        std::vector<CypherValue> values;
        values.reserve(proj.items.size());
        for (const auto& item : proj.items) {
            QM_TRY(v, eval_expr(ctx, rows.row(i), item.expr));
            values.push_back(std::move(v));
        }
        return values;
    };
    if (proj.order_by.empty()) {
        // Evaluation errors do not depend on the row, so evaluating the first row and the
        // kept ones raises exactly what evaluating every row would.
        if (rows.count > 0 && (skip > 0 || limit == 0)) QM_CHECK(eval_row(0));
        for (std::uint64_t i = skip; i < rows.count && i - skip < limit; ++i) {
            QM_TRY(values, eval_row(i));
            res.rows.push_back(std::move(values));
        }
        return res;
    }
    // Every row's sort keys, end to end; a key naming a column is that column's value.
    const std::size_t nkeys = proj.order_by.size();
    std::vector<const Expr*> key_expr(nkeys);
    for (std::size_t k = 0; k < nkeys; ++k) {
        const Expr& e = proj.order_by[k].expr;
        key_expr[k] = &e;
        if (e.kind != ExprKind::VariableRef) continue;
        for (std::size_t c = 0; c < res.keys.size(); ++c)
            if (res.keys[c] == e.name) {
                key_expr[k] = &proj.items[c].expr;
                break;
            }
    }
    // Evaluation errors do not depend on the row: the first row, evaluated in full and in
    // the plain order (items, then keys), raises whatever evaluating every row would. The
    // other rows need only their keys, and their items once they are kept.
    if (rows.count > 0) QM_CHECK(eval_row(0));
    std::vector<CypherValue> keys;
    keys.reserve(rows.count * nkeys);
    for (std::size_t i = 0; i < rows.count; ++i)
        for (std::size_t k = 0; k < nkeys; ++k) {
            QM_TRY(v, eval_expr(ctx, rows.row(i), *key_expr[k]));
            keys.push_back(std::move(v));
        }
    std::vector<std::size_t> order(rows.count);
    std::iota(order.begin(), order.end(), 0);
    // The row index is the last key, so ties keep the match order under any sort.
    auto before = [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < nkeys; ++k) {
            const CypherValue& x = keys[a * nkeys + k];
            const CypherValue& y = keys[b * nkeys + k];
            int c = 0;  // Nulls sort last ascending
            if (x.is_null() || y.is_null()) c = x.is_null() == y.is_null() ? 0 : x.is_null() ? 1 : -1;
            else {
                Ordering o = compare_values(x, y);
                c = o == Ordering::Less ? -1 : o == Ordering::Greater ? 1 : 0;
            }
            if (proj.order_by[k].descending) c = -c;
            if (c != 0) return c < 0;
        }
        return a < b;
    };
    // A LIMIT needs only the rows it keeps in order. That equals the stable sort's prefix
    // only when "incomparable counts as equal" is a true equivalence, i.e. every key column
    // holds one kind of value (an int next to a float, or a NaN, breaks transitivity).
    const std::uint64_t kept = skip >= rows.count || limit >= rows.count - skip ? rows.count : skip + limit;
    if (kept < rows.count && keys_are_uniform(keys, nkeys))
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(), before);
    else if (rows.count > 1)
        std::stable_sort(order.begin(), order.end(), before);
    for (std::uint64_t i = skip; i < rows.count && i - skip < limit; ++i) {
        QM_TRY(values, eval_row(order[i]));
        res.rows.push_back(std::move(values));
    }
    return res;
}

}  // namespace engine

using namespace engine;

namespace {

// Rows the projection can use, when it is known before matching: without ORDER BY and
// aggregates only the first skip + limit rows are ever seen. 0 means all.
std::size_t rows_wanted(const Projection& proj) {
    if (!proj.order_by.empty() || !proj.limit) return 0;
    for (const auto& item : proj.items)
        if (item.expr.kind == ExprKind::CountStar || item.expr.kind == ExprKind::Count) return 0;
    std::uint64_t skip = proj.skip.value_or(0), limit = *proj.limit;
    if (limit == 0) limit = 1;  // still match once, so the first row is evaluated
    return skip > ~std::uint64_t{0} - limit ? 0 : static_cast<std::size_t>(skip + limit);
}

Result<CypherResult> execute_one(WorkingGraph& graph, const Query& q, const Params& params, bool write_allowed) {
    switch (q.kind) {
        case QueryKind::Return: {
            VarTable vars;
            Ctx ctx{graph, params, vars};
            Rows rows;
            rows.count = 1;
            return project_rows(ctx, rows, *q.projection, "read");
        }
        case QueryKind::Match: {
            VarTable vars(q.pattern);
            Ctx ctx{graph, params, vars};
            Rows rows;
            QM_CHECK(match_pattern(ctx, q.pattern, q.predicates, rows_wanted(*q.projection), rows));
            if (q.optional && rows.count == 0) {
                rows.slots.assign(rows.width, Slot{});
                rows.count = 1;
            }
            return project_rows(ctx, rows, *q.projection, "read");
        }
        case QueryKind::Create: {
            if (!write_allowed) return fail(std::string(msg::kWriteNeedsTransaction));
            VarTable vars(q.pattern);
            Ctx ctx{graph, params, vars};
            return execute_create(ctx, q.pattern, q.projection);
        }
        case QueryKind::Merge: {
            if (!write_allowed) return fail(std::string(msg::kWriteNeedsTransaction));
            VarTable vars(q.pattern);
            Ctx ctx{graph, params, vars};
            Rows rows;
            static const std::vector<Predicate> kNone;
            QM_CHECK(match_pattern(ctx, q.pattern, kNone, 1, rows));
            if (rows.count == 0) return execute_create(ctx, q.pattern, q.projection);
            CypherResult zero;
            zero.statement_type = "write";
            return project_write_result(ctx, rows.row(0), q.projection, zero);
        }
        case QueryKind::Union: break;
    }
    CypherResult out;
    bool writes = false;
    for (std::size_t i = 0; i < q.parts.size(); ++i) {
        QM_TRY(part, execute_one(graph, q.parts[i], params, write_allowed));
        if (i == 0) out.keys = part.keys;
        else if (part.keys != out.keys) return fail(std::string(msg::kUnionColumns));
        for (auto& row : part.rows) out.rows.push_back(std::move(row));
        // A part that wrote makes the whole statement a write, with the counters summed:
        // reporting a committed write as a read would hide it from the caller.
        writes = writes || q.parts[i].writes();
        out.nodes_created += part.nodes_created;
        out.relationships_created += part.relationships_created;
        out.properties_set += part.properties_set;
    }
    out.statement_type = writes ? "write" : "read";
    return out;
}

}  // namespace

Result<CypherResult> execute_query(WorkingGraph& graph, const Query& query, const Params& params, bool write_allowed) {
    return execute_one(graph, query, params, write_allowed);
}

}  // namespace qm::cypher
