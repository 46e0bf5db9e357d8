// A cache prefetch the optimiser keeps.
//
// g++ 12 at -O2 silently deletes __builtin_prefetch calls in some inlined template code (seen
// when the address comes from a load under a condition), which is exactly where the walks
// need them. An asm statement cannot be deleted; prefetching an address never faults, so a
// stale or past-the-end address is harmless.
#pragma once

#include <cstdint>

#include "core/view.hpp"

namespace qm {

inline void prefetch_read(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

// Asks for the slots of every edge of node in one direction: they lie scattered over the
// edge table, and asking for all of them before reading any lets their misses overlap.
inline void prefetch_edge_slots(const GraphView& g, std::uint64_t node, bool outgoing) {
    const EdgeIdRange range = g.edge_ids_for_node(node, outgoing);
    const std::size_t table = g.edges.size();
    for (std::uint64_t e : range.compacted)
        if (e < table) prefetch_read(&g.edges[e]);
    for (std::uint64_t e : range.delta)
        if (e < table) prefetch_read(&g.edges[e]);
}

}  // namespace qm
