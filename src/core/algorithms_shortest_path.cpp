// Least-weight paths by Dijkstra's algorithm on a binary heap.
//
// Weights are read lazily, edge by edge, as the search reaches them: an unreadable weight
// on an edge the search never touches is not an error. Only the first edge to each
// neighbour (in adjacency order) is relaxed, so of two parallel edges the earlier one
// decides the distance even when a later one is lighter.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

// Maps a double to an integer that sorts like IEEE-754 totalOrder.
std::int64_t total_order_key(double d) {
    std::int64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

struct QueueEntry {
    std::int64_t key;  // total_order_key(distance)
    double distance;
    std::uint64_t node;
};

// std heaps keep the greatest on top; "greater" puts the nearest, then lowest id, there.
struct FartherFirst {
    bool operator()(const QueueEntry& a, const QueueEntry& b) const {
        if (a.key != b.key) return a.key > b.key;
        return a.node > b.node;
    }
};

}  // namespace

Result<std::optional<WeightedPath>> shortest_path(const GraphCore& g, std::uint64_t start,
                                                  std::uint64_t target, std::string_view direction,
                                                  const std::optional<std::string>& edge_type,
                                                  const std::optional<std::string>& weight_property) {
    if (!g.node_exists(start)) return fail(msg::node_not_found(start));
    if (!g.node_exists(target)) return fail(msg::node_not_found(target));
    if (start == target) return WeightedPath{{start}, 0.0};
    QM_TRY(dir, parse_direction(direction));

    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    // A key no edge carries weighs every edge 1.0, exactly as an absent property does.
    std::optional<Symbol> weight_key;
    if (weight_property) weight_key = g.symbols->find(*weight_property);

    const std::size_t n = g.nodes.size();
    // `reached` says which entries of best/predecessor hold values; the rest stay unwritten.
    std::vector<std::uint8_t> reached(n, 0);
    auto best = std::make_unique_for_overwrite<double[]>(n);
    auto predecessor = std::make_unique_for_overwrite<std::uint64_t[]>(n);
    NodeMarks seen(n);
    std::vector<QueueEntry> heap;
    std::string error;

    reached[start] = 1;
    best[start] = 0.0;
    heap.push_back({total_order_key(0.0), 0.0, start});
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), FartherFirst{});
        QueueEntry entry = heap.back();
        heap.pop_back();
        if (entry.distance > best[entry.node]) continue;
        if (entry.node == target) break;
        seen.reset(n);
        auto relax = [&](std::uint64_t m, std::uint64_t e) {
            if (!error.empty() || m >= n || !seen.insert(m)) return;
            double weight = 1.0;
            if (weight_key) {
                auto w = edge_weight(g, e, weight_key);
                if (!w) {
                    error = std::move(w.error());
                    return;
                }
                weight = *w;
            }
            double candidate = entry.distance + weight;
            if (!reached[m] || candidate < best[m]) {
                reached[m] = 1;
                best[m] = candidate;
                predecessor[m] = entry.node;
                heap.push_back({total_order_key(candidate), candidate, m});
                std::push_heap(heap.begin(), heap.end(), FartherFirst{});
            }
        };
        if (dir != Direction::In) for_each_neighbor_edge(g, entry.node, true, filter, relax);
        if (dir != Direction::Out) for_each_neighbor_edge(g, entry.node, false, filter, relax);
        if (!error.empty()) return fail(std::move(error));
    }

    if (!reached[target]) return std::optional<WeightedPath>{};
    WeightedPath path;
    path.distance = best[target];
    for (std::uint64_t v = target; v != start; v = predecessor[v]) path.nodes.push_back(v);
    path.nodes.push_back(start);
    std::reverse(path.nodes.begin(), path.nodes.end());
    return path;
}

}  // namespace qm
