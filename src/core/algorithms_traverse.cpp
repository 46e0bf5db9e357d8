// Breadth-first search, weak components and random walks.
//
// The breadth-first walks do not build each node's distinct-neighbour list: scanning the
// raw adjacency (outgoing, then incoming) and skipping visited nodes appends exactly the
// nodes the distinct list would, in the same order, because a neighbour's first edge is
// where the list would place it and every later edge finds it already visited.
//
// A walk that reaches a large share of the graph switches to a NeighborIndex: streaming the
// edge table once costs less than the scattered slot reads it replaces, while a walk that
// stays local never pays for it.
#include <ctime>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/algorithms_neighbor_index.hpp"
#include "core/prefetch.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

// How many queue entries ahead a walk starts fetching edge slots.
constexpr std::size_t kQueueLookahead = 4;
// A walk switches to the packed index once it has followed this share (1/N) of all edges
// through their slots; below this many edges in total it never does.
constexpr std::uint64_t kIndexShareDivisor = 8;
constexpr std::uint64_t kIndexMinEdges = 1 << 16;

// Calls f(m) for every not-yet-visited neighbour m of node in direction order, marking it.
template <class F>
void visit_by_slots(const GraphView& g, std::uint64_t node, Direction direction, const EdgeTypeFilter& filter,
                    NodeMarks& visited, F&& f) {
    auto step = [&](std::uint64_t m, std::uint64_t) {
        if (visited.insert(m)) f(m);
    };
    if (direction != Direction::In) for_each_neighbor_edge(g, node, true, filter, step);
    if (direction != Direction::Out) for_each_neighbor_edge(g, node, false, filter, step);
}

template <class Index, class F>
void visit_by_index(const NeighborIndex<Index>& index, std::uint64_t node, NodeBits& visited, F&& f) {
    for (Index m : index.of(node))
        if (visited.insert(m)) f(m);
}

// Expands order[head..] breadth-first through the packed index, continuing a walk that
// began through the slots. `depth` and `level_end` carry the level bookkeeping across.
template <class Index>
void finish_bfs_by_index(const GraphView& g, Direction dir, const EdgeTypeFilter& filter,
                         std::optional<std::uint64_t> max_depth, std::vector<std::uint64_t>& order,
                         std::size_t head, std::uint64_t depth, std::size_t level_end) {
    NeighborIndex<Index> index = build_neighbor_index<Index>(g, filter, dir);
    // The nodes visited so far are exactly those already queued.
    NodeBits visited(g.nodes.size());
    for (std::uint64_t v : order) visited.insert(v);
    for (; head < order.size(); ++head) {
        if (head == level_end) {
            ++depth;
            level_end = order.size();
        }
        if (max_depth && depth >= *max_depth) break;
        prefetch_queue_ahead(index, order, head);
        visit_by_index(index, order[head], visited, [&](std::uint64_t m) { order.push_back(m); });
    }
}

}  // namespace

Result<std::vector<std::uint64_t>> bfs(const GraphView& g, std::uint64_t start, std::string_view direction,
                                       const std::optional<std::string>& edge_type,
                                       std::optional<std::uint64_t> max_depth) {
    if (!g.node_exists(start)) return fail(msg::node_not_found(start));
    QM_TRY(dir, parse_direction(direction));
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    ScratchLease<NodeMarks> visited;
    visited->reset(g.nodes.size());
    // The result doubles as the queue: nodes are visited in the order they are enqueued.
    std::vector<std::uint64_t> order{start};
    visited->insert(start);
    std::uint64_t depth = 0;
    std::size_t level_end = 1;  // order[head .. level_end) sit at `depth`
    const bool out = dir != Direction::In, in = dir != Direction::Out;
    const std::uint64_t total_edges = g.edges.size();
    const std::uint64_t switch_after =
        total_edges < kIndexMinEdges ? ~std::uint64_t{0} : total_edges / kIndexShareDivisor;
    std::uint64_t followed = 0;
    for (std::size_t head = 0; head < order.size(); ++head) {
        if (head == level_end) {
            ++depth;
            level_end = order.size();
        }
        // Depths only grow along the queue, so nothing after this node expands either.
        if (max_depth && depth >= *max_depth) break;
        if (followed > switch_after) {
            if (small_node_ids(g))
                finish_bfs_by_index<std::uint32_t>(g, dir, filter, max_depth, order, head, depth, level_end);
            else
                finish_bfs_by_index<std::uint64_t>(g, dir, filter, max_depth, order, head, depth, level_end);
            break;
        }
        std::uint64_t node = order[head];
        if (head + kQueueLookahead < order.size()) {
            if (out) prefetch_edge_slots(g, order[head + kQueueLookahead], true);
            if (in) prefetch_edge_slots(g, order[head + kQueueLookahead], false);
        }
        if (out) followed += g.edge_ids_for_node(node, true).size();
        if (in) followed += g.edge_ids_for_node(node, false).size();
        visit_by_slots(g, node, dir, filter, *visited, [&](std::uint64_t m) { order.push_back(m); });
    }
    return order;
}

namespace {

// Weak components sweep the whole graph, so they always read the packed index.
template <class Index>
std::vector<std::vector<std::uint64_t>> components_by_index(const GraphView& g, const EdgeTypeFilter& filter) {
    NeighborIndex<Index> index = build_neighbor_index<Index>(g, filter, Direction::Both);
    NodeBits visited(g.nodes.size());
    std::vector<std::vector<std::uint64_t>> components;
    std::vector<std::uint64_t> queue;
    for (std::uint64_t id = 0; id < g.nodes.size(); ++id) {
        if (!g.nodes[id].occupied() || !visited.insert(id)) continue;
        // A component lists its nodes in dequeue order, which is enqueue order.
        queue.assign(1, id);
        for (std::size_t head = 0; head < queue.size(); ++head) {
            prefetch_queue_ahead(index, queue, head);
            visit_by_index(index, queue[head], visited, [&](std::uint64_t m) { queue.push_back(m); });
        }
        components.emplace_back(queue.begin(), queue.end());
    }
    return components;
}

// The generator's state when no seed is given: wall-clock nanoseconds, wrapping.
std::uint64_t clock_seed() {
    constexpr std::uint64_t kBeforeEpoch = 0x9e3779b97f4a7c15ULL;
    std::timespec ts{};
    if (std::timespec_get(&ts, TIME_UTC) == 0 || ts.tv_sec < 0) return kBeforeEpoch;
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(ts.tv_nsec);
}

}  // namespace

std::vector<std::vector<std::uint64_t>> connected_components(const GraphView& g,
                                                             const std::optional<std::string>& edge_type) {
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    if (small_node_ids(g)) return components_by_index<std::uint32_t>(g, filter);
    return components_by_index<std::uint64_t>(g, filter);
}

Result<std::vector<std::uint64_t>> random_walk(const GraphView& g, std::uint64_t start, std::uint64_t steps,
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
    ScratchLease<NodeMarks> seen;
    std::vector<std::uint64_t> choices;
    std::uint64_t current = start;
    for (std::uint64_t i = 0; i < steps; ++i) {
        choices.clear();
        neighbors_for_direction(g, current, dir, filter, *seen, choices);
        if (choices.empty()) break;
        s = s * kMultiplier + kIncrement;
        current = choices[(s ^ (s >> 33)) % choices.size()];
        path.push_back(current);
    }
    return path;
}

}  // namespace qm
