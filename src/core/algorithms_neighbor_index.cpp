#include "core/algorithms_neighbor_index.hpp"

#include <algorithm>
#include <memory>

namespace qm {

template <class Index>
NeighborIndex<Index> build_neighbor_index(const GraphView& g, const EdgeTypeFilter& filter, Direction direction) {
    const std::uint64_t n = g.nodes.size();
    const bool out = direction != Direction::In, in = direction != Direction::Out;
    auto counted = [&](const EdgeSlot& e) {
        return e.occupied() && filter.accepts(e) && e.source < n && e.target < n;
    };
    NeighborIndex<Index> index;
    // First pass: each node's outgoing and incoming counts.
    std::vector<std::uint64_t> out_count(out ? n : 0, 0), in_count(in ? n : 0, 0);
    for (const EdgeSlot& e : g.edges) {
        if (!counted(e)) continue;
        if (out) ++out_count[e.source];
        if (in) ++in_count[e.target];
    }
    // Slices in node order; within one, the outgoing part precedes the incoming part. The
    // count arrays become the write cursors of their parts.
    index.offsets.resize(n + 1);
    std::uint64_t total = 0;
    for (std::uint64_t v = 0; v < n; ++v) {
        index.offsets[v] = total;
        std::uint64_t o = out ? out_count[v] : 0, i = in ? in_count[v] : 0;
        if (out) out_count[v] = total;
        if (in) in_count[v] = total + o;
        total += o + i;
    }
    index.offsets[n] = total;
    index.ids = std::vector<Index>(total);
    // Second pass, in edge-id order, so every part comes out ascending by edge id.
    for (const EdgeSlot& e : g.edges) {
        if (!counted(e)) continue;
        if (out) index.ids[out_count[e.source]++] = static_cast<Index>(e.target);
        if (in) index.ids[in_count[e.target]++] = static_cast<Index>(e.source);
    }
    return index;
}

template <class Index>
void keep_distinct_neighbors(NeighborIndex<Index>& index, std::size_t node_slots) {
    NodeMarks seen(node_slots);
    std::uint64_t write = 0;
    const std::size_t nodes = index.offsets.size() - 1;
    std::uint64_t begin = index.offsets[0];
    for (std::size_t v = 0; v < nodes; ++v) {
        std::uint64_t end = index.offsets[v + 1];
        seen.reset(node_slots);
        index.offsets[v] = write;
        for (std::uint64_t j = begin; j < end; ++j)
            if (seen.insert(index.ids[j])) index.ids[write++] = index.ids[j];
        begin = end;
    }
    index.offsets[nodes] = write;
    index.ids.resize(write);
    index.ids.shrink_to_fit();
}

template NeighborIndex<std::uint32_t> build_neighbor_index(const GraphView&, const EdgeTypeFilter&, Direction);
template NeighborIndex<std::uint64_t> build_neighbor_index(const GraphView&, const EdgeTypeFilter&, Direction);
template void keep_distinct_neighbors(NeighborIndex<std::uint32_t>&, std::size_t);
template void keep_distinct_neighbors(NeighborIndex<std::uint64_t>&, std::size_t);

}  // namespace qm
