#include "inference/active_subgraph.hpp"

#include <algorithm>

#include "core/adjacency.hpp"
#include "core/messages.hpp"
#include "inference/messages.hpp"
#include "model/distributions.hpp"
#include "model/model_messages.hpp"

namespace qm::inference {

Result<std::vector<std::uint64_t>> expand_nodes(const GraphView& g, std::span<const std::uint64_t> seeds,
                                                std::uint64_t radius, std::uint64_t max_nodes,
                                                bool& truncated) {
    ScratchLease<NodeMarks> visited;
    visited->reset(g.nodes.size());
    // The visited list doubles as the breadth-first queue: nodes are queued exactly when
    // they are first visited, so queue order is visit order.
    std::vector<std::uint64_t> order;
    std::vector<std::uint64_t> depth;
    for (std::uint64_t s : seeds) {
        if (!g.node_exists(s)) return fail(qm::msg::node_not_found(s));
        if (order.size() >= max_nodes) {
            truncated = true;
            break;
        }
        if (visited->insert(s)) {
            order.push_back(s);
            depth.push_back(0);
        }
    }
    const EdgeTypeFilter any_type;
    // A neighbour listed twice (parallel edges, or both directions) is visited at its first
    // listing and skipped after, exactly as with a deduplicated neighbour list.
    auto reach = [&](std::uint64_t m, std::uint64_t d) {
        if (visited->contains(m)) return;
        if (order.size() < max_nodes) {
            visited->insert(m);
            order.push_back(m);
            depth.push_back(d);
        } else {
            truncated = true;
        }
    };
    for (std::size_t head = 0; head < order.size(); ++head) {
        const std::uint64_t n = order[head];
        const std::uint64_t d = depth[head];
        if (d >= radius) continue;
        for_each_neighbor_edge(g, n, true, any_type, [&](std::uint64_t m, std::uint64_t) { reach(m, d + 1); });
        for_each_neighbor_edge(g, n, false, any_type, [&](std::uint64_t m, std::uint64_t) { reach(m, d + 1); });
    }
    std::sort(order.begin(), order.end());
    return order;
}

namespace {

// The working sets of one compilation. Variables carry a mark: 0 outside V, 1 in V before
// the factor layer (the frozen V0), 2 joined during it.
struct Region {
    const GraphView& g;
    std::uint64_t max_nodes;
    std::vector<std::uint8_t> var_mark;
    std::vector<std::uint64_t> vars;
    ScratchLease<NodeMarks> node_mark;
    std::vector<std::uint64_t> nodes;
    bool truncated = false;

    Region(const GraphView& graph, std::uint64_t max) : g(graph), max_nodes(max), var_mark(graph.variables.size(), 0) {
        node_mark->reset(graph.nodes.size());
    }

    bool join(std::uint64_t v, std::uint8_t mark = 1) {
        if (var_mark[v] != 0) return false;
        var_mark[v] = mark;
        vars.push_back(v);
        return true;
    }
    void add_owner(std::uint64_t v) {
        const auto& owner = g.variables[v]->owner_id;
        if (!owner || node_mark->contains(*owner)) return;
        if (nodes.size() < max_nodes) {
            node_mark->insert(*owner);
            nodes.push_back(*owner);
        } else {
            truncated = true;
        }
    }
};

bool variable_present(const GraphView& g, std::uint64_t v) { return g.variable(v) != nullptr; }

}  // namespace

Result<ActiveSubgraph> compile_active_subgraph(const GraphView& g, std::span<const std::uint64_t> query_variables,
                                               const EvidenceMap& evidence, std::uint64_t radius,
                                               std::uint64_t max_nodes, std::uint64_t max_factors) {
    Region r(g, max_nodes);
    for (std::uint64_t q : query_variables) {
        if (!variable_present(g, q)) return fail(model::msg::variable_not_found(q));
        r.join(q);
        r.add_owner(q);
    }
    for (const auto& [v, state] : evidence) {
        if (!variable_present(g, v)) return fail(model::msg::variable_not_found(v));
        QM_TRY(index, model::state_index(g, v, state));
        (void)index;
        r.join(v);
        r.add_owner(v);
    }
    if (r.vars.empty()) {
        for (std::uint64_t v = 0; v < g.variables.size(); ++v)
            if (g.variables[v]) r.join(v);
        for (std::uint64_t v : r.vars) r.add_owner(v);
    }

    std::sort(r.nodes.begin(), r.nodes.end());
    QM_TRY(walked, expand_nodes(g, r.nodes, radius, max_nodes, r.truncated));
    // The walk starts from every node already held, so its result is the whole node set.
    for (std::uint64_t n : walked) r.node_mark->insert(n);
    r.nodes = std::move(walked);

    for (std::uint64_t v = 0; v < g.variables.size(); ++v) {
        const auto& rec = g.variables[v];
        if (rec && rec->owner_id && r.node_mark->contains(*rec->owner_id)) r.join(v);
    }

    // One factor layer: only variables already in the region (mark 1) make a factor
    // relevant, so a factor's other variables do not pull in further factors.
    ActiveSubgraph out;
    g.for_each_factor_table([&](const FactorTableRecord& table) {
        bool relevant = false;
        for (std::uint64_t v : table.variables) {
            if (v < r.var_mark.size() && r.var_mark[v] == 1) {
                relevant = true;
                break;
            }
        }
        if (!relevant) return;
        if (out.factors.size() >= max_factors) {
            r.truncated = true;
            return;
        }
        out.factors.push_back(table.factor_id);
        for (std::uint64_t v : table.variables) {
            if (v < r.var_mark.size() && r.join(v, 2)) r.add_owner(v);
        }
    });

    std::sort(r.vars.begin(), r.vars.end());
    std::sort(r.nodes.begin(), r.nodes.end());
    for (std::uint64_t v : r.vars) {
        const auto& owner = g.variables[v]->owner_id;
        if (owner && !r.node_mark->contains(*owner)) out.boundary_variables.push_back(v);
    }
    out.variables = std::move(r.vars);
    out.graph_nodes = std::move(r.nodes);
    out.truncated = r.truncated;
    return out;
}

std::vector<std::string> active_subgraph_warnings(const ActiveSubgraph& active) {
    constexpr std::size_t kLargeVariables = 1000;
    constexpr std::size_t kLargeFactors = 5000;
    constexpr std::size_t kLargeNodes = 5000;
    std::vector<std::string> out;
    if (active.truncated) out.emplace_back(msg::kTruncated);
    if (active.variables.size() > kLargeVariables || active.factors.size() > kLargeFactors ||
        active.graph_nodes.size() > kLargeNodes) {
        out.push_back(msg::large_active_subgraph(active.variables.size(), active.factors.size(),
                                                 active.graph_nodes.size()));
    }
    return out;
}

}  // namespace qm::inference
