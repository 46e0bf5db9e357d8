// PageRank by power iteration.
//
// Each node's distinct outgoing neighbours (first-edge order, type filter applied) are
// gathered once per call instead of being re-derived in every iteration: the lists cannot
// change while the shared borrow is held, so every iteration sees the same lists, and the
// hot loop streams packed ids instead of chasing edge slots. Every sum runs in ascending
// node order and the contributions into a node arrive in ascending order of their source,
// so scores are reproducible to the last bit.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/adjacency.hpp"
#include "core/algorithms.hpp"
#include "core/algorithms_neighbor_index.hpp"
#include "core/messages.hpp"

namespace qm {

namespace {

template <class Index>
ScoreList run_pagerank(const GraphView& g, std::uint64_t iterations, double damping,
                       std::optional<double> tolerance, const EdgeTypeFilter& filter) {
    const std::size_t slots = g.nodes.size();
    std::vector<Index> live;
    live.reserve(g.node_count());
    for (std::uint64_t v = 0; v < slots; ++v)
        if (g.nodes[v].occupied()) live.push_back(static_cast<Index>(v));
    const double n = static_cast<double>(live.size());
    std::vector<double> score(slots, 0.0);
    for (Index v : live) score[v] = 1.0 / n;

    if (iterations > 0) {
        NeighborIndex<Index> out = build_neighbor_index<Index>(g, filter, Direction::Out);
        keep_distinct_neighbors(out, slots);
        std::vector<double> next(slots, 0.0);
        // Every iteration is a function of the scores alone, and in floating point the
        // scores soon settle into a fixed point or a short cycle of states. Once a state
        // repeats, the rest of the run is known: only the remainder of the iterations left
        // modulo the cycle length needs computing, so a huge count still ends. A repeat is
        // found by comparing each state with one saved at the last power-of-two distance.
        // Each transition of the cycle has already been checked against the tolerance, so
        // skipping whole cycles never skips a stop.
        std::vector<double> saved = score;
        std::uint64_t power = 1, distance = 0, limit = iterations;
        bool repeating = false;
        for (std::uint64_t done = 0; done < limit;) {
            double dangling = 0.0;
            for (Index v : live)
                if (out.degree(v) == 0) dangling += score[v];
            const double base = (1.0 - damping) / n + damping * dangling / n;
            for (Index v : live) next[v] = base;
            for (Index u : live) {
                std::uint64_t k = out.degree(u);
                if (k == 0) continue;
                double share = damping * score[u] / static_cast<double>(k);
                for (Index w : out.of(u)) next[w] += share;
            }
            double change = 0.0;
            for (Index v : live) change += std::fabs(next[v] - score[v]);
            score.swap(next);
            ++done;
            if (tolerance && change <= *tolerance) break;
            if (repeating) continue;
            ++distance;
            // Vacant slots stay 0.0 in both, so comparing the whole arrays is exact; it stops
            // at the first difference, which is near the front until the scores settle.
            if (std::memcmp(score.data(), saved.data(), slots * sizeof(double)) == 0) {
                limit = done + (iterations - done) % distance;
                repeating = true;
            } else if (distance == power) {
                saved = score;
                power *= 2;
                distance = 0;
            }
        }
    }

    ScoreList result;
    result.reserve(live.size());
    for (Index v : live) result.emplace_back(v, score[v]);
    return result;
}

}  // namespace

Result<ScoreList> pagerank(const GraphView& g, std::uint64_t iterations, double damping,
                           std::optional<double> tolerance, const std::optional<std::string>& edge_type) {
    if (!(damping >= 0.0 && damping <= 1.0)) return fail(std::string(msg::kDampingRange));
    if (tolerance && !(std::isfinite(*tolerance) && *tolerance >= 0.0))
        return fail(std::string(msg::kToleranceRange));
    if (g.node_count() == 0) return ScoreList{};
    EdgeTypeFilter filter = EdgeTypeFilter::make(g, edge_type);
    if (small_node_ids(g)) return run_pagerank<std::uint32_t>(g, iterations, damping, tolerance, filter);
    return run_pagerank<std::uint64_t>(g, iterations, damping, tolerance, filter);
}

}  // namespace qm
