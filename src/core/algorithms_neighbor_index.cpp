#include "core/algorithms_neighbor_index.hpp"

#include <algorithm>

namespace qm {

namespace {

// After counting into offsets[v + 1] and summing, offsets[v] is v's start. Placing with
// offsets[v]++ leaves offsets[v] at v's end, i.e. the next node's start: one shift restores
// the starts without a separate cursor array.
void restore_starts(std::vector<std::uint64_t>& offsets) {
    std::copy_backward(offsets.begin(), offsets.end() - 1, offsets.end());
    offsets[0] = 0;
}

void prefix_sum(std::vector<std::uint64_t>& offsets) {
    for (std::size_t v = 1; v < offsets.size(); ++v) offsets[v] += offsets[v - 1];
}

}  // namespace

template <class Index>
void build_neighbor_index(const GraphCore& g, const EdgeTypeFilter& filter, NeighborIndex<Index>* out,
                          NeighborIndex<Index>* in) {
    const std::uint64_t n = g.nodes.size();
    if (out) out->offsets.assign(n + 1, 0);
    if (in) in->offsets.assign(n + 1, 0);
    auto counted = [&](const EdgeSlot& e) {
        return e.occupied() && filter.accepts(e) && e.source < n && e.target < n;
    };
    for (const EdgeSlot& e : g.edges) {
        if (!counted(e)) continue;
        if (out) ++out->offsets[e.source + 1];
        if (in) ++in->offsets[e.target + 1];
    }
    if (out) {
        prefix_sum(out->offsets);
        out->ids.assign(out->offsets[n], 0);
    }
    if (in) {
        prefix_sum(in->offsets);
        in->ids.assign(in->offsets[n], 0);
    }
    for (const EdgeSlot& e : g.edges) {
        if (!counted(e)) continue;
        if (out) out->ids[out->offsets[e.source]++] = static_cast<Index>(e.target);
        if (in) in->ids[in->offsets[e.target]++] = static_cast<Index>(e.source);
    }
    if (out) restore_starts(out->offsets);
    if (in) restore_starts(in->offsets);
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

template void build_neighbor_index(const GraphCore&, const EdgeTypeFilter&, NeighborIndex<std::uint32_t>*,
                                   NeighborIndex<std::uint32_t>*);
template void build_neighbor_index(const GraphCore&, const EdgeTypeFilter&, NeighborIndex<std::uint64_t>*,
                                   NeighborIndex<std::uint64_t>*);
template void keep_distinct_neighbors(NeighborIndex<std::uint32_t>&, std::size_t);
template void keep_distinct_neighbors(NeighborIndex<std::uint64_t>&, std::size_t);

}  // namespace qm
