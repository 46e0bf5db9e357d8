// Breadth-first search, weak components and random walks.
//
// The breadth-first walks do not build each node's distinct-neighbour list: scanning the
// raw adjacency (outgoing, then incoming) and skipping visited nodes appends exactly the
// nodes the distinct list would, in the same order, because a neighbour's first edge is
// where the list would place it and every later edge finds it already visited.
#include <ctime>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

// Visits every not-yet-visited neighbour of node in `direction` order, marking it.
template <class F>
void visit_new_neighbors(const GraphCore& g, std::uint64_t node, Direction direction,
                         const EdgeTypeFilter& filter, std::vector<std::uint8_t>& visited, F&& f) {
    auto step = [&](std::uint64_t m, std::uint64_t) {
        // Endpoints always name slots; the bound only guards against a damaged graph.
        if (m >= visited.size() || visited[m]) return;
        visited[m] = 1;
        f(m);
    };
    if (direction != Direction::In) for_each_neighbor_edge(g, node, true, filter, step);
    if (direction != Direction::Out) for_each_neighbor_edge(g, node, false, filter, step);
}

// The generator's state when no seed is given: wall-clock nanoseconds, wrapping.
std::uint64_t clock_seed() {
    constexpr std::uint64_t kBeforeEpoch = 0x9e3779b97f4a7c15ULL;
    std::timespec ts{};
    if (std::timespec_get(&ts, TIME_UTC) == 0 || ts.tv_sec < 0) return kBeforeEpoch;
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

Result<std::vector<std::uint64_t>> bfs(const GraphCore& g, std::uint64_t start, std::string_view direction,
                                       const std::optional<std::string>& edge_type,
                                       std::optional<std::uint64_t> max_depth) {
    if (!g.node_exists(start)) return fail(msg::node_not_found(start));
    QM_TRY(dir, parse_direction(direction));
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    std::vector<std::uint8_t> visited(g.nodes.size(), 0);
    // The result doubles as the queue: nodes are visited in the order they are enqueued.
    std::vector<std::uint64_t> order{start};
    visited[start] = 1;
    std::uint64_t depth = 0;
    std::size_t level_end = 1;  // order[head .. level_end) sit at `depth`
    for (std::size_t head = 0; head < order.size(); ++head) {
        if (head == level_end) {
            ++depth;
            level_end = order.size();
        }
        // Depths only grow along the queue, so nothing after this node expands either.
        if (max_depth && depth >= *max_depth) break;
        visit_new_neighbors(g, order[head], dir, filter, visited,
                            [&](std::uint64_t m) { order.push_back(m); });
    }
    return order;
}

std::vector<std::vector<std::uint64_t>> connected_components(const GraphCore& g,
                                                             const std::optional<std::string>& edge_type) {
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    std::vector<std::uint8_t> visited(g.nodes.size(), 0);
    std::vector<std::vector<std::uint64_t>> components;
    for (std::uint64_t id = 0; id < g.nodes.size(); ++id) {
        if (visited[id] || !g.nodes[id].occupied()) continue;
        visited[id] = 1;
        // A component lists its nodes in dequeue order, which is enqueue order.
        std::vector<std::uint64_t> component{id};
        for (std::size_t head = 0; head < component.size(); ++head) {
            visit_new_neighbors(g, component[head], Direction::Both, filter, visited,
                                [&](std::uint64_t m) { component.push_back(m); });
        }
        component.shrink_to_fit();
        components.push_back(std::move(component));
    }
    return components;
}

Result<std::vector<std::uint64_t>> random_walk(const GraphCore& g, std::uint64_t start, std::uint64_t steps,
                                               std::string_view direction,
                                               const std::optional<std::string>& edge_type,
                                               std::optional<std::uint64_t> seed) {
    constexpr std::uint64_t kMultiplier = 0x5851f42d4c957f2dULL;
    constexpr std::uint64_t kIncrement = 0x14057b7ef767814fULL;
    if (!g.node_exists(start)) return fail(msg::node_not_found(start));
    QM_TRY(dir, parse_direction(direction));
    std::uint64_t s = seed ? *seed : clock_seed();
    std::vector<std::uint64_t> path{start};
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    NodeMarks seen(g.nodes.size());
    std::vector<std::uint64_t> choices;
    std::uint64_t current = start;
    for (std::uint64_t i = 0; i < steps; ++i) {
        choices.clear();
        neighbors_for_direction(g, current, dir, filter, seen, choices);
        if (choices.empty()) break;
        s = s * kMultiplier + kIncrement;
        current = choices[(s ^ (s >> 33)) % choices.size()];
        path.push_back(current);
    }
    return path;
}

}  // namespace qm
