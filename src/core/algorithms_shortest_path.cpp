// Least-weight paths by Dijkstra's algorithm.
//
// Weights are read lazily, edge by edge, as the search reaches them: an unreadable weight
// on an edge the search never touches is not an error. Only the first edge to each
// neighbour (in adjacency order) is relaxed, so of two parallel edges the earlier one
// decides the distance even when a later one is lighter.
//
// The queue holds each reached, unsettled node once and lowers its key in place. A node is
// queued again only with a strictly smaller distance, so the settled sequence, ordered by
// (distance, node id), is exactly that of a queue that keeps superseded entries and skips
// them; the queue just stays as small as the frontier, which keeps it in cache.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/prefetch.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

// Maps a double to an integer that sorts like IEEE-754 totalOrder.
std::int64_t total_order_key(double d) {
    std::int64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// A 4-ary min-heap of nodes ordered by (key, node id), with decrease-key.
class FrontierQueue {
public:
    explicit FrontierQueue(std::size_t node_slots)
        : position_(std::make_unique_for_overwrite<std::size_t[]>(node_slots)) {}

    bool empty() const { return items_.empty(); }

    void push(std::uint64_t node, std::int64_t key) {
        items_.push_back({key, node});
        sift_up(items_.size() - 1);
    }
    // The node must be queued and the new key smaller than its current one.
    void decrease(std::uint64_t node, std::int64_t key) {
        std::size_t at = position_[node];
        items_[at].key = key;
        sift_up(at);
    }
    std::uint64_t pop() {
        std::uint64_t top = items_.front().node;
        Item last = items_.back();
        items_.pop_back();
        if (!items_.empty()) sift_down(last);
        return top;
    }

private:
    struct Item {
        std::int64_t key;
        std::uint64_t node;
    };
    static bool before(const Item& a, const Item& b) {
        return a.key < b.key || (a.key == b.key && a.node < b.node);
    }
    void place(std::size_t at, const Item& item) {
        items_[at] = item;
        position_[item.node] = at;
    }
    void sift_up(std::size_t at) {
        Item item = items_[at];
        while (at > 0) {
            std::size_t parent = (at - 1) / 4;
            if (!before(item, items_[parent])) break;
            place(at, items_[parent]);
            at = parent;
        }
        place(at, item);
    }
    // Fills the root's hole with `item`, moving it down to its place.
    void sift_down(const Item& item) {
        std::size_t at = 0;
        const std::size_t size = items_.size();
        for (;;) {
            std::size_t first = 4 * at + 1;
            if (first >= size) break;
            std::size_t least = first;
            std::size_t end = std::min(first + 4, size);
            for (std::size_t c = first + 1; c < end; ++c)
                if (before(items_[c], items_[least])) least = c;
            if (!before(items_[least], item)) break;
            place(at, items_[least]);
            at = least;
        }
        place(at, item);
    }

    std::vector<Item> items_;
    std::unique_ptr<std::size_t[]> position_;  // meaningful only for queued nodes
};

enum : std::uint8_t { kUnreached = 0, kQueued = 1, kSettled = 2 };

}  // namespace

Result<std::optional<WeightedPath>> shortest_path(const GraphView& g, std::uint64_t start,
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
    // `state` says which entries of best/predecessor hold values; the rest stay unwritten.
    std::vector<std::uint8_t> state(n, kUnreached);
    auto best = std::make_unique_for_overwrite<double[]>(n);
    auto predecessor = std::make_unique_for_overwrite<std::uint64_t[]>(n);
    ScratchLease<NodeMarks> seen;
    FrontierQueue queue(n);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;  // (neighbour, edge)

    state[start] = kQueued;
    best[start] = 0.0;
    queue.push(start, total_order_key(0.0));
    while (!queue.empty()) {
        std::uint64_t node = queue.pop();
        state[node] = kSettled;
        if (node == target) break;
        const double distance = best[node];
        // Collect the node's first edge to each neighbour, then weigh them: asking for every
        // property blob while collecting lets those scattered reads overlap.
        if (dir != Direction::In) prefetch_edge_slots(g, node, true);
        if (dir != Direction::Out) prefetch_edge_slots(g, node, false);
        seen->reset(n);
        pairs.clear();
        auto collect = [&](std::uint64_t m, std::uint64_t e) {
            if (m >= n || !seen->insert(m)) return;
            pairs.emplace_back(m, e);
            if (weight_key && g.edges[e].props) prefetch_read(g.edges[e].props);
        };
        if (dir != Direction::In) for_each_neighbor_edge(g, node, true, filter, collect);
        if (dir != Direction::Out) for_each_neighbor_edge(g, node, false, filter, collect);
        for (auto [m, e] : pairs) {
            double weight = 1.0;
            if (weight_key) {
                auto w = edge_weight(g, e, weight_key);
                if (!w) return fail(std::move(w.error()));
                weight = *w;
            }
            double candidate = distance + weight;
            if (state[m] == kUnreached) {
                state[m] = kQueued;
                best[m] = candidate;
                predecessor[m] = node;
                queue.push(m, total_order_key(candidate));
            } else if (candidate < best[m]) {
                // Only a queued node can improve: weights are never negative, so nothing
                // settled later than m can reach it more cheaply.
                best[m] = candidate;
                predecessor[m] = node;
                if (state[m] == kQueued) queue.decrease(m, total_order_key(candidate));
            }
        }
    }

    if (state[target] == kUnreached) return std::optional<WeightedPath>{};
    WeightedPath path;
    path.distance = best[target];
    for (std::uint64_t v = target; v != start; v = predecessor[v]) path.nodes.push_back(v);
    path.nodes.push_back(start);
    std::reverse(path.nodes.begin(), path.nodes.end());
    return path;
}

}  // namespace qm
