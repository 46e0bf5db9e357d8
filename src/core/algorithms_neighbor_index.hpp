// NeighborIndex: the neighbour ids of every node, per direction, in adjacency order,
// packed into one array for algorithms that sweep the whole graph.
//
// It is built by one sequential pass over the edge table instead of following each node's
// edge ids into scattered edge slots: a node's adjacency lists its live edges in ascending
// edge-id order, so a counting sort of the edges by endpoint, in id order, reproduces every
// list exactly. Streaming the table once is several times cheaper than the random slot reads
// of a full walk, and the sweep then reads 4-byte ids in sequence.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/adjacency.hpp"
#include "core/graph.hpp"

namespace qm {

// Index is the id width: 4 bytes whenever node ids fit (which halves the memory a sweep
// streams), 8 otherwise.
template <class Index>
struct NeighborIndex {
    // Per node slot, its slice of `ids`: ids[offsets[v] .. offsets[v + 1]).
    std::vector<std::uint64_t> offsets;
    std::vector<Index> ids;

    std::span<const Index> of(std::uint64_t node) const {
        return {ids.data() + offsets[node], ids.data() + offsets[node + 1]};
    }
    std::uint64_t degree(std::uint64_t node) const { return offsets[node + 1] - offsets[node]; }
};

// Whether node ids fit 4-byte entries (always, short of 2^32 node slots).
inline bool small_node_ids(const GraphCore& g) {
    return g.nodes.size() <= std::numeric_limits<std::uint32_t>::max();
}

// Targets of outgoing and sources of incoming edges passing the filter, duplicates kept.
// Either output may be null when that direction is not needed.
template <class Index>
void build_neighbor_index(const GraphCore& g, const EdgeTypeFilter& filter, NeighborIndex<Index>* out,
                          NeighborIndex<Index>* in);

// Keeps only the first occurrence of each neighbour within every node's list.
template <class Index>
void keep_distinct_neighbors(NeighborIndex<Index>& index, std::size_t node_slots);

}  // namespace qm
