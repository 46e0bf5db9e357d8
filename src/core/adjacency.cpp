#include "core/adjacency.hpp"

#include <cmath>

#include "core/messages.hpp"

namespace qm {

Result<Direction> parse_direction(std::string_view text) {
    if (text == "out" || text == "outgoing") return Direction::Out;
    if (text == "in" || text == "incoming") return Direction::In;
    if (text == "both" || text == "all") return Direction::Both;
    return fail(msg::direction_invalid(text));
}

void collect_neighbors(const GraphView& g, std::uint64_t node, bool outgoing,
                       const EdgeTypeFilter& filter, NodeMarks& seen, std::vector<std::uint64_t>& out) {
    for_each_neighbor_edge(g, node, outgoing, filter, [&](std::uint64_t m, std::uint64_t) {
        if (seen.insert(m)) out.push_back(m);
    });
}

void collect_neighbor_edges(const GraphView& g, std::uint64_t node, bool outgoing,
                            const EdgeTypeFilter& filter, NodeMarks& seen,
                            std::vector<std::pair<std::uint64_t, std::uint64_t>>& out) {
    for_each_neighbor_edge(g, node, outgoing, filter, [&](std::uint64_t m, std::uint64_t e) {
        if (seen.insert(m)) out.emplace_back(m, e);
    });
}

void neighbors_for_direction(const GraphView& g, std::uint64_t node, Direction direction,
                             const EdgeTypeFilter& filter, NodeMarks& seen,
                             std::vector<std::uint64_t>& out) {
    seen.reset(g.nodes.size());
    if (direction != Direction::In) collect_neighbors(g, node, true, filter, seen, out);
    if (direction != Direction::Out) collect_neighbors(g, node, false, filter, seen, out);
}

Result<double> edge_weight(const GraphView& g, std::uint64_t edge_id, std::optional<Symbol> key) {
    ValueView v;
    if (!key || !find_property(g.edges[edge_id].props, *key, v)) return 1.0;
    std::optional<double> w;
    switch (v.kind) {
        case ValueKind::Int: w = static_cast<double>(v.i); break;
        case ValueKind::Float: w = v.f; break;
        case ValueKind::String: w = parse_f64(v.s); break;
        case ValueKind::Bool: break;
    }
    auto key_text = g.symbols->text(*key);
    if (!w) {
        return fail(msg::edge_weight_not_float(edge_id, key_text));
    }
    if (!std::isfinite(*w) || *w < 0.0) {
        return fail(msg::edge_weight_out_of_range(edge_id, key_text));
    }
    return *w;
}

}  // namespace qm
