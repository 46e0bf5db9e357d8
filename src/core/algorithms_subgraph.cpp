// Induced subgraphs: a new in-memory graph holding chosen nodes and the edges among them.
//
// Edges are found through the chosen nodes' outgoing adjacency rather than by scanning the
// whole edge table, so a small subgraph of a large graph costs what it holds; sorting the
// found ids restores the ascending edge-id insertion order.
#include <algorithm>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/messages.hpp"

namespace qm {

Result<GraphCore> subgraph(const GraphView& g, const std::vector<std::uint64_t>& nodes,
                           const std::optional<std::string>& edge_type) {
    for (std::uint64_t id : nodes)
        if (!g.node_exists(id)) return fail(msg::node_not_found(id));
    std::vector<std::uint64_t> chosen(nodes);
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    auto is_chosen = [&](std::uint64_t id) { return std::binary_search(chosen.begin(), chosen.end(), id); };

    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    std::vector<std::uint64_t> edge_ids;
    for (std::uint64_t id : chosen) {
        for_each_neighbor_edge(g, id, true, filter, [&](std::uint64_t m, std::uint64_t e) {
            if (is_chosen(m)) edge_ids.push_back(e);
        });
    }
    std::sort(edge_ids.begin(), edge_ids.end());
    // A damaged adjacency could list an edge twice; copying it twice would fail.
    edge_ids.erase(std::unique(edge_ids.begin(), edge_ids.end()), edge_ids.end());

    GraphCore sub;
    for (std::uint64_t id : chosen) QM_CHECK(sub.insert_node_record(*g.get_node(id)));
    for (std::uint64_t e : edge_ids) QM_CHECK(sub.insert_edge_record(*g.get_edge(e)));
    QM_CHECK(sub.compact_segments());
    return sub;
}

}  // namespace qm
