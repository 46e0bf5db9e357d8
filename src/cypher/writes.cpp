// CREATE, and MERGE when nothing matched: new records go into the working graph's overlay
// and reach the live graph only when the statement or transaction commits.
#include <cmath>

#include "cypher/engine.hpp"
#include "cypher/messages.hpp"

namespace qm::cypher::engine {

namespace {

// Scalars only; a later entry with the same key replaces the earlier value.
Result<PropertyMap> eval_property_map(const Ctx& ctx, const Slot* row, const PropertyEntries& entries) {
    PropertyMap out;
    for (const auto& [key, expr] : entries) {
        QM_TRY(v, eval_expr(ctx, row, expr));
        switch (v.v.index()) {
            case 1: out.set(key, std::get<bool>(v.v)); break;
            case 2: out.set(key, std::get<std::int64_t>(v.v)); break;
            case 3:
                if (!std::isfinite(std::get<double>(v.v))) return fail(msg::property_not_scalar(key));
                out.set(key, std::get<double>(v.v));
                break;
            case 4: out.set(key, std::move(std::get<std::string>(v.v))); break;
            default: return fail(msg::property_not_scalar(key));
        }
    }
    return out;
}

}  // namespace

Result<CypherResult> execute_create(const Ctx& ctx, const Pattern& pattern, const std::optional<Projection>& projection) {
    std::vector<Slot> row(ctx.vars.size());
    CypherResult counters;
    counters.statement_type = "write";
    WorkingGraph& g = ctx.graph;
    std::vector<std::uint64_t> node_ids;
    node_ids.reserve(pattern.nodes.size());
    for (const NodePattern& n : pattern.nodes) {
        int slot = ctx.vars.find(n.variable);
        if (slot >= 0 && row[slot].kind == Slot::Node) {
            node_ids.push_back(row[slot].id);
            continue;
        }
        QM_TRY(props, eval_property_map(ctx, row.data(), n.properties));
        std::optional<std::string> external_id;
        if (const PropertyValue* v = props.find("external_id"))
            if (auto* s = std::get_if<std::string>(v)) external_id = *s;
        QM_TRY(id, g.add_node(std::move(external_id), n.labels, std::move(props)));
        if (slot >= 0) row[slot] = Slot{Slot::Node, id};
        node_ids.push_back(id);
        counters.nodes_created += 1;
        counters.properties_set += n.properties.size();
    }
    for (std::size_t i = 0; i < pattern.relationships.size(); ++i) {
        const RelPattern& r = pattern.relationships[i];
        if (r.direction == RelDirection::Undirected) return fail(std::string(msg::kCreateUndirected));
        int slot = ctx.vars.find(r.variable);
        if (slot >= 0 && row[slot].kind != Slot::Unbound) return fail(msg::relationship_already_bound(*r.variable));
        if (!r.rel_type) return fail(std::string(msg::kCreateNeedsType));
        bool out = r.direction == RelDirection::Outgoing;
        std::uint64_t source = out ? node_ids[i] : node_ids[i + 1];
        std::uint64_t target = out ? node_ids[i + 1] : node_ids[i];
        QM_TRY(props, eval_property_map(ctx, row.data(), r.properties));
        QM_TRY(id, g.add_edge(source, target, *r.rel_type, std::move(props)));
        if (slot >= 0) row[slot] = Slot{Slot::Edge, id};
        counters.relationships_created += 1;
        counters.properties_set += r.properties.size();
    }
    return project_write_result(ctx, row.data(), projection, counters);
}

Result<CypherResult> project_write_result(const Ctx& ctx, const Slot* row, const std::optional<Projection>& projection,
                                          const CypherResult& counters) {
    CypherResult res;
    if (projection) {
        Rows rows;
        rows.width = ctx.vars.size();
        rows.push(row);
        QM_TRY(projected, project_rows(ctx, rows, *projection, "write"));
        res = std::move(projected);
    }
    res.statement_type = "write";
    res.nodes_created = counters.nodes_created;
    res.relationships_created = counters.relationships_created;
    res.properties_set = counters.properties_set;
    return res;
}

}  // namespace qm::cypher::engine
