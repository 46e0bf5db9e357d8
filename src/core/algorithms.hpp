// Whole-graph algorithms over a graph view: breadth-first search, shortest path, weak
// components, PageRank, random walk and induced subgraph.
//
// All of them read one view (the live graph or a snapshot; callers hold the shared borrow,
// so nothing changes underneath) and keep per-node state in flat arrays indexed by node id.
// Every error is reported before any result exists, and none of them touches the store.
// Neighbour order, tie-breaks and the order of floating-point sums are part of each contract.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/view.hpp"
#include "core/result.hpp"

namespace qm {

// A path from start to target and its total weight.
struct WeightedPath {
    std::vector<std::uint64_t> nodes;
    double distance = 0.0;
};

// Node id to score, ascending by id.
using ScoreList = std::vector<std::pair<std::uint64_t, double>>;

// The start, then every node reachable along `direction` in breadth-first visiting order;
// with max_depth, only nodes within that many hops.
[[nodiscard]] Result<std::vector<std::uint64_t>> bfs(const GraphView& g, std::uint64_t start,
                                                     std::string_view direction,
                                                     const std::optional<std::string>& edge_type,
                                                     std::optional<std::uint64_t> max_depth);

// Least-weight path (edge weights from weight_property, 1.0 without one). Nothing when the
// target is unreachable. Of parallel edges only the first in adjacency order counts; among
// equal distances the smaller node id settles first.
[[nodiscard]] Result<std::optional<WeightedPath>> shortest_path(
    const GraphView& g, std::uint64_t start, std::uint64_t target, std::string_view direction,
    const std::optional<std::string>& edge_type, const std::optional<std::string>& weight_property);

// Weak components in ascending order of their smallest id, each in breadth-first order
// from that id.
std::vector<std::vector<std::uint64_t>> connected_components(const GraphView& g,
                                                             const std::optional<std::string>& edge_type);

// Power iteration with dangling mass spread evenly; degrees count distinct neighbours.
[[nodiscard]] Result<ScoreList> pagerank(const GraphView& g, std::uint64_t iterations, double damping,
                                         std::optional<double> tolerance,
                                         const std::optional<std::string>& edge_type);

// A walk of at most `steps` moves; the same seed on the same graph gives the same walk.
// Without a seed the generator starts from the wall clock.
[[nodiscard]] Result<std::vector<std::uint64_t>> random_walk(const GraphView& g, std::uint64_t start,
                                                             std::uint64_t steps, std::string_view direction,
                                                             const std::optional<std::string>& edge_type,
                                                             std::optional<std::uint64_t> seed);

// A new in-memory graph with the given nodes and the edges among them, under their
// original ids, adjacency compacted.
[[nodiscard]] Result<GraphCore> subgraph(const GraphView& g, const std::vector<std::uint64_t>& nodes,
                                         const std::optional<std::string>& edge_type);

}  // namespace qm
