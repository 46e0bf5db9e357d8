// The bounded region inference runs over: a breadth-first walk of the property graph from
// the nodes that own the asked-about variables, the variables those nodes own, and one
// layer of factor tables touching them, cut at fixed node and factor limits.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "core/view.hpp"
#include "core/result.hpp"

namespace qm::inference {

// Variable id -> observed state name; ascending id is the order every walk over it uses.
using EvidenceMap = std::map<std::uint64_t, std::string>;

// Invariants: every list ascends without repeats; every variable of every active factor's
// table is in `variables`; graph_nodes.size() <= max_nodes and factors.size() <= max_factors.
struct ActiveSubgraph {
    std::vector<std::uint64_t> variables;
    std::vector<std::uint64_t> factors;  // each has a factor table
    std::vector<std::uint64_t> graph_nodes;
    std::vector<std::uint64_t> boundary_variables;  // owner exists but lies outside graph_nodes
    bool truncated = false;                         // a node or factor was left out at a limit
};

inline constexpr std::uint64_t kDefaultMaxNodes = 10000;
inline constexpr std::uint64_t kDefaultMaxFactors = 50000;

// Breadth-first walk over edges of either direction and any type, from the seeds in order,
// up to `radius` hops, holding at most max_nodes nodes; sets `truncated` when a node is
// left out. Returns the visited nodes ascending; an absent seed is an error.
[[nodiscard]] Result<std::vector<std::uint64_t>> expand_nodes(const GraphView& g,
                                                              std::span<const std::uint64_t> seeds,
                                                              std::uint64_t radius, std::uint64_t max_nodes,
                                                              bool& truncated);

// The region around the query variables and the evidence (all variables when both are
// empty). Reaching a limit is not an error: it sets `truncated`. Reads the graph only.
[[nodiscard]] Result<ActiveSubgraph> compile_active_subgraph(const GraphView& g,
                                                             std::span<const std::uint64_t> query_variables,
                                                             const EvidenceMap& evidence, std::uint64_t radius,
                                                             std::uint64_t max_nodes, std::uint64_t max_factors);

// What belief propagation warns about a region: truncation, then an unusually large size.
std::vector<std::string> active_subgraph_warnings(const ActiveSubgraph& active);

}  // namespace qm::inference
