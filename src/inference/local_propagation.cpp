#include "inference/local_propagation.hpp"

#include <cmath>

#include "core/adjacency.hpp"
#include "core/messages.hpp"
#include "inference/active_subgraph.hpp"
#include "inference/messages.hpp"

namespace qm::inference {

Result<std::vector<std::pair<std::uint64_t, double>>> local_propagate(
    const GraphView& g, std::span<const std::pair<std::uint64_t, double>> seeds, std::uint64_t radius,
    std::span<const std::uint64_t> query_nodes, const std::optional<std::string>& edge_type,
    std::string_view edge_property, double damping) {
    if (!(damping >= 0.0 && damping <= 1.0)) return fail(std::string(msg::kDamping));
    for (const auto& [node, p] : seeds) {
        if (!g.node_exists(node)) return fail(qm::msg::node_not_found(node));
        if (!std::isfinite(p) || p < 0.0) return fail(std::string(msg::kSeedValue));
    }
    std::vector<std::uint64_t> starts;
    starts.reserve(seeds.size() + query_nodes.size());
    for (const auto& seed : seeds) starts.push_back(seed.first);
    starts.insert(starts.end(), query_nodes.begin(), query_nodes.end());
    bool truncated = false;  // not reported: at the limit the region is simply smaller
    QM_TRY(region_ids, expand_nodes(g, starts, radius, kLocalMaxNodes, truncated));

    const std::size_t n = g.nodes.size();
    ScratchLease<NodeMarks> region;
    region->reset(n);
    for (std::uint64_t m : region_ids) region->insert(m);
    ScratchLease<NodeValues> scores, frontier, next;
    scores->reset(n);
    frontier->reset(n);
    for (const auto& [node, p] : seeds) {
        scores->set(node, p);
        frontier->set(node, p);
    }
    const EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    const std::optional<Symbol> key = g.symbols->find(edge_property);
    for (std::uint64_t step = 0; step < radius && !frontier->empty(); ++step) {
        next->reset(n);
        // Ascending sources fix the order in which each target's amounts are summed.
        frontier->sort_ids();
        for (std::uint64_t u : frontier->ids()) {
            if (!region->contains(u)) continue;
            const double x = (*frontier)[u];
            Status status = ok();
            for_each_neighbor_edge(g, u, true, filter, [&](std::uint64_t t, std::uint64_t e) {
                if (!status || !region->contains(t)) return;
                auto w = edge_weight(g, e, key);
                if (!w) {
                    status = fail(std::move(w.error()));
                    return;
                }
                next->add(t, damping * (x * *w));
            });
            QM_CHECK(status);
        }
        next->sort_ids();
        for (std::uint64_t t : next->ids()) scores->add(t, (*next)[t]);
        std::swap(*frontier, *next);
    }
    scores->sort_ids();
    std::vector<std::pair<std::uint64_t, double>> out;
    out.reserve(scores->ids().size());
    for (std::uint64_t m : scores->ids()) out.emplace_back(m, (*scores)[m]);
    return out;
}

}  // namespace qm::inference
