// The four traversals over a graph: neighbours, k-hop sets, frontiers and damped score
// propagation. Each reports its first error before producing anything; results come in
// discovery order (propagate: ascending node id), so every run gives the same answer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/view.hpp"
#include "core/result.hpp"

namespace qm {

// Distinct neighbours of node in first-encounter order; a self-loop lists the node itself.
// Checks the node before the direction.
[[nodiscard]] Result<std::vector<std::uint64_t>> neighbors(const GraphView& g, std::uint64_t node,
                                                           std::string_view direction,
                                                           const std::optional<std::string>& edge_type);

// Every node at distance 1..hops from start, breadth-first discovery order, start excluded.
// Checks the start before the direction.
[[nodiscard]] Result<std::vector<std::uint64_t>> k_hop(const GraphView& g, std::uint64_t start,
                                                       std::uint64_t hops, std::string_view direction,
                                                       const std::optional<std::string>& edge_type);

// The nodes whose shortest distance from the start set is exactly steps, in discovery order.
// Checks the direction before the starts; duplicate starts collapse to their first occurrence.
[[nodiscard]] Result<std::vector<std::uint64_t>> frontier(const GraphView& g,
                                                          std::span<const std::uint64_t> starts,
                                                          std::uint64_t steps, std::string_view direction,
                                                          const std::optional<std::string>& edge_type);

using Seed = std::pair<std::uint64_t, double>;

// Damped flow of seed amounts along outgoing edges, weighted by an edge property. Seeds are
// validated in the order given (one entry per node); flow is summed in ascending node id
// order so results are reproducible. Returns every scored node once, ascending.
[[nodiscard]] Result<std::vector<Seed>> propagate(const GraphView& g, std::span<const Seed> seeds,
                                                  std::uint64_t steps, std::string_view edge_property,
                                                  double damping,
                                                  const std::optional<std::string>& edge_type);

}  // namespace qm
