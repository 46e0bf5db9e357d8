#include "core/segment.hpp"

namespace qm {

namespace {

// Counting sort of live edges by endpoint: one pass to count, one to place. Walking edges
// in ascending id order keeps each node's slice ascending.
void build_side(std::span<const EdgeSlot> edges, std::uint64_t n, bool outgoing,
                std::vector<std::uint64_t>& offsets, std::vector<std::uint64_t>& ids) {
    offsets.assign(n + 1, 0);
    for (const EdgeSlot& e : edges) {
        if (!e.occupied()) continue;
        std::uint64_t v = outgoing ? e.source : e.target;
        if (v < n) ++offsets[v + 1];
    }
    for (std::uint64_t v = 0; v < n; ++v) offsets[v + 1] += offsets[v];
    ids.assign(offsets[n], 0);
    std::vector<std::uint64_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::uint64_t id = 0; id < edges.size(); ++id) {
        const EdgeSlot& e = edges[id];
        if (!e.occupied()) continue;
        std::uint64_t v = outgoing ? e.source : e.target;
        if (v < n) ids[cursor[v]++] = id;
    }
}

bool valid_side(const std::vector<std::uint64_t>& offsets, std::size_t edge_len, std::uint64_t node_count) {
    if (offsets.empty() || offsets.size() - 1 != node_count) return false;
    if (offsets.front() != 0 || offsets.back() != edge_len) return false;
    for (std::size_t i = 1; i < offsets.size(); ++i)
        if (offsets[i] < offsets[i - 1]) return false;
    return true;
}

// With the slice bounds checked first, this never reads outside the arrays.
bool side_matches(std::span<const EdgeSlot> edges, const std::vector<std::uint64_t>& offsets,
                  const std::vector<std::uint64_t>& ids, bool outgoing) {
    for (std::size_t v = 0; v + 1 < offsets.size(); ++v) {
        bool first = true;
        std::uint64_t previous = 0;
        for (std::uint64_t i = offsets[v]; i < offsets[v + 1]; ++i) {
            std::uint64_t id = ids[i];
            if (id >= edges.size() || !edges[id].occupied()) return false;
            const EdgeSlot& e = edges[id];
            if ((outgoing ? e.source : e.target) != v) return false;
            if (!first && id <= previous) return false;
            first = false;
            previous = id;
        }
    }
    return true;
}

void merge_side(const std::vector<std::uint64_t>& old_offsets, const std::vector<std::uint64_t>& old_ids,
                const std::vector<std::vector<std::uint64_t>>& delta, std::uint64_t n,
                std::vector<std::uint64_t>& offsets, std::vector<std::uint64_t>& ids) {
    const std::uint64_t old_n = old_offsets.empty() ? 0 : old_offsets.size() - 1;
    auto old_slice = [&](std::uint64_t v) -> std::span<const std::uint64_t> {
        if (v >= old_n) return {};
        return std::span<const std::uint64_t>(old_ids.data() + old_offsets[v], old_offsets[v + 1] - old_offsets[v]);
    };
    offsets.resize(n + 1);
    offsets[0] = 0;
    for (std::uint64_t v = 0; v < n; ++v)
        offsets[v + 1] = offsets[v] + old_slice(v).size() + (v < delta.size() ? delta[v].size() : 0);
    ids.reserve(offsets[n]);  // filled by appends: no zeroing pass first
    for (std::uint64_t v = 0; v < n; ++v) {
        auto slice = old_slice(v);
        ids.insert(ids.end(), slice.begin(), slice.end());
        if (v < delta.size()) ids.insert(ids.end(), delta[v].begin(), delta[v].end());
    }
}

}  // namespace

ComputeSegment merge_segment(const ComputeSegment& previous,
                             const std::vector<std::vector<std::uint64_t>>& delta_out,
                             const std::vector<std::vector<std::uint64_t>>& delta_in, std::uint64_t node_count) {
    ComputeSegment seg;
    merge_side(previous.out_offsets, previous.out_edges, delta_out, node_count, seg.out_offsets, seg.out_edges);
    merge_side(previous.in_offsets, previous.in_edges, delta_in, node_count, seg.in_offsets, seg.in_edges);
    return seg;
}

bool ComputeSegment::valid_shape(std::uint64_t node_count, std::uint64_t edge_count) const {
    return valid_side(out_offsets, out_edges.size(), node_count) &&
           valid_side(in_offsets, in_edges.size(), node_count) && out_edges.size() == edge_count &&
           in_edges.size() == edge_count;
}

ComputeSegment build_segment(std::span<const EdgeSlot> edges, std::uint64_t node_count) {
    ComputeSegment seg;
    build_side(edges, node_count, true, seg.out_offsets, seg.out_edges);
    build_side(edges, node_count, false, seg.in_offsets, seg.in_edges);
    return seg;
}

bool segment_matches_edges(const ComputeSegment& segment, std::span<const EdgeSlot> edges,
                           std::uint64_t node_count, std::uint64_t live_edges) {
    return segment.valid_shape(node_count, live_edges) &&
           side_matches(edges, segment.out_offsets, segment.out_edges, true) &&
           side_matches(edges, segment.in_offsets, segment.in_edges, false);
}

}  // namespace qm
