// ComputeSegment: compressed-sparse-row adjacency of the compacted edges.
// For node n with n + 1 < offsets.size(), its edges are ids[offsets[n] .. offsets[n + 1]).
// Offsets never decrease and never exceed the id array's length.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qm {

struct ComputeSegment {
    std::vector<std::uint64_t> out_offsets;
    std::vector<std::uint64_t> out_edges;
    std::vector<std::uint64_t> in_offsets;
    std::vector<std::uint64_t> in_edges;

    bool empty() const { return out_edges.empty() && in_edges.empty() && out_offsets.empty() && in_offsets.empty(); }
    std::size_t edge_count() const { return out_edges.size(); }

    // The compacted edges of node in one direction; empty for nodes beyond the segment.
    std::span<const std::uint64_t> edges_of(std::uint64_t node, bool outgoing) const {
        const auto& offsets = outgoing ? out_offsets : in_offsets;
        const auto& ids = outgoing ? out_edges : in_edges;
        if (node >= offsets.size() || node + 1 >= offsets.size()) return {};
        return std::span<const std::uint64_t>(ids.data() + offsets[node],
                                              offsets[node + 1] - offsets[node]);
    }
};

}  // namespace qm
