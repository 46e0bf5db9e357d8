#include "core/traversal.hpp"

#include "core/prefetch.hpp"

#include <cmath>

#include "core/adjacency.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

// Appends every not-yet-visited neighbour of n, marking it. The visited set subsumes the
// per-node "seen" set of neighbors_for_direction: a neighbour reached twice from n is
// visited after the first time, so the order is the same without a second set.
void expand(const GraphView& g, std::uint64_t n, Direction direction, const EdgeTypeFilter& filter,
            NodeMarks& visited, std::vector<std::uint64_t>& out) {
    if (direction != Direction::In) collect_neighbors(g, n, true, filter, visited, out);
    if (direction != Direction::Out) collect_neighbors(g, n, false, filter, visited, out);
}

// Breadth-first loops warm the next node of the layer while expanding the current one.
void warm(const GraphView& g, std::uint64_t n, Direction direction) {
    if (direction != Direction::In) prefetch_node_edges(g, n, true);
    if (direction != Direction::Out) prefetch_node_edges(g, n, false);
}

}  // namespace

Result<std::vector<std::uint64_t>> neighbors(const GraphView& g, std::uint64_t node,
                                             std::string_view direction,
                                             const std::optional<std::string>& edge_type) {
    if (!g.node_exists(node)) return fail(msg::node_not_found(node));
    QM_TRY(dir, parse_direction(direction));
    ScratchLease<NodeMarks> seen;
    std::vector<std::uint64_t> out;
    neighbors_for_direction(g, node, dir, EdgeTypeFilter::make(g, edge_type), *seen, out);
    return out;
}

Result<std::vector<std::uint64_t>> k_hop(const GraphView& g, std::uint64_t start, std::uint64_t hops,
                                         std::string_view direction,
                                         const std::optional<std::string>& edge_type) {
    if (!g.node_exists(start)) return fail(msg::node_not_found(start));
    QM_TRY(dir, parse_direction(direction));
    std::vector<std::uint64_t> result;
    if (hops == 0) return result;
    const EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    ScratchLease<NodeMarks> visited;
    visited->reset(g.nodes.size());
    visited->insert(start);
    // The result is the breadth-first queue itself: layer d occupies [begin, end).
    expand(g, start, dir, filter, *visited, result);
    std::size_t begin = 0;
    for (std::uint64_t depth = 1; depth < hops && begin < result.size(); ++depth) {
        std::size_t end = result.size();
        for (std::size_t i = begin; i < end; ++i) {
            if (i + 1 < end) warm(g, result[i + 1], dir);
            expand(g, result[i], dir, filter, *visited, result);
        }
        begin = end;
    }
    return result;
}

Result<std::vector<std::uint64_t>> frontier(const GraphView& g, std::span<const std::uint64_t> starts,
                                            std::uint64_t steps, std::string_view direction,
                                            const std::optional<std::string>& edge_type) {
    QM_TRY(dir, parse_direction(direction));
    ScratchLease<NodeMarks> visited;
    visited->reset(g.nodes.size());
    std::vector<std::uint64_t> layer;
    for (std::uint64_t s : starts) {
        if (!g.node_exists(s)) return fail(msg::node_not_found(s));
        if (visited->insert(s)) layer.push_back(s);
    }
    const EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    std::vector<std::uint64_t> next;
    // Every non-empty layer holds newly visited nodes, so a huge step count ends early.
    for (std::uint64_t step = 0; step < steps; ++step) {
        next.clear();
        for (std::size_t i = 0; i < layer.size(); ++i) {
            if (i + 1 < layer.size()) warm(g, layer[i + 1], dir);
            expand(g, layer[i], dir, filter, *visited, next);
        }
        layer.swap(next);
        if (layer.empty()) break;
    }
    return layer;
}

Result<std::vector<Seed>> propagate(const GraphView& g, std::span<const Seed> seeds, std::uint64_t steps,
                                    std::string_view edge_property, double damping,
                                    const std::optional<std::string>& edge_type) {
    if (!(damping >= 0.0 && damping <= 1.0)) return fail(std::string(msg::kDampingRange));
    for (const auto& [node, p] : seeds) {
        if (!g.node_exists(node)) return fail(msg::node_not_found(node));
        if (!std::isfinite(p) || p < 0.0) return fail(std::string(msg::kSeedProbabilities));
    }
    const std::size_t n = g.nodes.size();
    ScratchLease<NodeValues> scores, current, next;
    scores->reset(n);
    current->reset(n);
    for (const auto& [node, p] : seeds) {
        scores->set(node, p);
        current->set(node, p);
    }
    const EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    const std::optional<Symbol> key = g.symbols->find(edge_property);
    // One node's passing edges; weights are read in a second pass so the loads of their
    // property blobs, scattered over the arena, can overlap.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out_edges;  // (target, edge id)
    for (std::uint64_t step = 0; step < steps && !current->empty(); ++step) {
        next->reset(n);
        // Ascending sources fix the order in which each target's contributions are summed.
        current->sort_ids();
        for (std::uint64_t src : current->ids()) {
            const double p = (*current)[src];
            out_edges.clear();
            for_each_neighbor_edge(g, src, true, filter, [&](std::uint64_t target, std::uint64_t e) {
                if (key && g.edges[e].props) prefetch_read(g.edges[e].props);
                out_edges.emplace_back(target, e);
            });
            for (const auto& [target, e] : out_edges) {
                QM_TRY(w, edge_weight(g, e, key));
                if (w == 0.0) continue;
                next->add(target, damping * (p * w));
            }
        }
        if (next->empty()) break;
        for (std::uint64_t m : next->ids()) scores->add(m, (*next)[m]);
        std::swap(*current, *next);
    }
    scores->sort_ids();
    std::vector<Seed> out;
    out.reserve(scores->ids().size());
    for (std::uint64_t m : scores->ids()) out.emplace_back(m, (*scores)[m]);
    return out;
}

}  // namespace qm
