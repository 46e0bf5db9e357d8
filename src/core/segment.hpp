// ComputeSegment: compressed-sparse-row adjacency of the compacted edges, and the pure
// operations on it: building one from the edge table and checking one against it.
// For node n with n + 1 < offsets.size(), its edges are ids[offsets[n] .. offsets[n + 1]).
// Offsets never decrease and never exceed the id array's length. Within a node the ids
// ascend, which every walk relies on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/slots.hpp"

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

    // Whether both sides have node_count + 1 offsets from 0 to their id count, never
    // decreasing, and edge_count ids each: safe to read, though not yet known to be right.
    bool valid_shape(std::uint64_t node_count, std::uint64_t edge_count) const;
};

// Every live edge of the table, listed under its source (outgoing) and target (incoming)
// for nodes below node_count, ascending within each node.
ComputeSegment build_segment(std::span<const EdgeSlot> edges, std::uint64_t node_count);

// previous with each node's delta lists appended to its slices, over node_count nodes.
// Every delta id lies above every compacted id of its node (ids grow as edges arrive), so
// this equals build_segment over the same edges, made with sequential copies instead of a
// pass over the whole edge table.
ComputeSegment merge_segment(const ComputeSegment& previous,
                             const std::vector<std::vector<std::uint64_t>>& delta_out,
                             const std::vector<std::vector<std::uint64_t>>& delta_in, std::uint64_t node_count);

// A segment from elsewhere (a cache file) may stand in for build_segment only if every id
// in it names a live edge listed under its own source (outgoing) or target (incoming),
// strictly ascending within each node, and it lists exactly live_edges edges per side.
bool segment_matches_edges(const ComputeSegment& segment, std::span<const EdgeSlot> edges,
                           std::uint64_t node_count, std::uint64_t live_edges);

}  // namespace qm
