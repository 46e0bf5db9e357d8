// Local propagation: seed scores spread along outgoing edges for a few steps inside a
// bounded neighbourhood of the seeds, each hop weighted by an edge property and damped,
// everything that reaches a node summed. Works on the graph itself, not on the model.
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

namespace qm::inference {

// Largest neighbourhood the flow may use; reaching it only makes the region smaller.
inline constexpr std::uint64_t kLocalMaxNodes = 10000;

// seeds: (node, amount) with one entry per node, checked in the order given. Returns every
// seed and every node that received an amount (zero included), ascending by node id.
// Scores are plain sums: neither normalised nor capped.
[[nodiscard]] Result<std::vector<std::pair<std::uint64_t, double>>> local_propagate(
    const GraphView& g, std::span<const std::pair<std::uint64_t, double>> seeds, std::uint64_t radius,
    std::span<const std::uint64_t> query_nodes, const std::optional<std::string>& edge_type,
    std::string_view edge_property, double damping);

}  // namespace qm::inference
