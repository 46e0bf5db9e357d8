// The adjacency walk the algorithms share: the same edges in the same order as
// for_each_neighbor_edge, with the edge slots fetched ahead of use.
//
// A node's edge ids are contiguous, but the slots they name are scattered over the edge
// table, so on a large graph nearly every slot read is a cache miss. Asking for the slots
// a few positions ahead lets those misses overlap instead of queueing one after another.
#pragma once

#include <cstdint>
#include <span>

#include "core/adjacency.hpp"
#include "core/graph.hpp"

namespace qm {

inline constexpr std::size_t kSlotPrefetchDistance = 8;

template <class F>
void for_each_edge_in(const GraphCore& g, std::span<const std::uint64_t> ids, bool outgoing,
                      const EdgeTypeFilter& filter, F& f) {
    const std::size_t count = ids.size();
    const std::size_t slots = g.edges.size();
    const EdgeSlot* table = g.edges.data();
    for (std::size_t i = 0; i < count && i < kSlotPrefetchDistance; ++i)
        if (ids[i] < slots) __builtin_prefetch(table + ids[i]);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kSlotPrefetchDistance < count && ids[i + kSlotPrefetchDistance] < slots)
            __builtin_prefetch(table + ids[i + kSlotPrefetchDistance]);
        std::uint64_t e = ids[i];
        if (e >= slots) continue;
        const EdgeSlot& slot = table[e];
        if (!slot.occupied() || !filter.accepts(slot)) continue;
        f(outgoing ? slot.target : slot.source, e);
    }
}

// Calls f(neighbour, edge_id) for every live edge of node in one direction that passes the
// filter, in adjacency order (compacted slice, then delta list). No dedup.
template <class F>
void for_each_edge_of(const GraphCore& g, std::uint64_t node, bool outgoing, const EdgeTypeFilter& filter,
                      F&& f) {
    EdgeIdRange range = g.edge_ids_for_node(node, outgoing);
    for_each_edge_in(g, range.compacted, outgoing, filter, f);
    for_each_edge_in(g, range.delta, outgoing, filter, f);
}

// Asks for the slots of every edge of node in the walk's directions, so a queue-driven walk
// can start the misses of a node it will expand a few turns later.
inline void prefetch_edge_slots(const GraphCore& g, std::uint64_t node, bool out, bool in) {
    const std::size_t slots = g.edges.size();
    const EdgeSlot* table = g.edges.data();
    auto ask = [&](std::span<const std::uint64_t> ids) {
        for (std::uint64_t e : ids)
            if (e < slots) __builtin_prefetch(table + e);
    };
    if (out) {
        EdgeIdRange r = g.edge_ids_for_node(node, true);
        ask(r.compacted);
        ask(r.delta);
    }
    if (in) {
        EdgeIdRange r = g.edge_ids_for_node(node, false);
        ask(r.compacted);
        ask(r.delta);
    }
}

}  // namespace qm
