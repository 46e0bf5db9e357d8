// NeighborIndex: every node's neighbour ids in one direction (or outgoing then incoming,
// for "both"), in adjacency order, packed into one array for walks that cover most of the
// graph.
//
// It is built by streaming the edge table instead of following each node's edge ids into
// scattered edge slots: a node's adjacency lists its live edges in ascending edge-id order,
// so a counting sort of the edges by endpoint, in id order, reproduces every list exactly.
// Streaming the table once is several times cheaper than the random slot reads of a full
// walk, and the walk then reads packed ids in sequence. With "both", a node's outgoing and
// incoming neighbours sit side by side, so expanding a node touches one slice, not two.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/adjacency.hpp"
#include "core/prefetch.hpp"
#include "core/view.hpp"

namespace qm {

// Index is the id width: 4 bytes whenever node ids fit (which halves the memory a walk
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

    // A queue-driven walk asks for a node's offsets a few turns before it asks for the
    // node's slice, and for the slice a few turns before expanding it: both sit at random
    // places, so each would otherwise be a cache miss paid in turn.
    void prefetch_offsets(std::uint64_t node) const { prefetch_read(offsets.data() + node); }
    void prefetch_slice(std::uint64_t node) const { prefetch_read(ids.data() + offsets[node]); }
};

// How far ahead along its queue a walk over a NeighborIndex prefetches.
inline constexpr std::size_t kOffsetsAhead = 16;
inline constexpr std::size_t kSliceAhead = 8;

// Prefetches for the queue entries that will be expanded kOffsetsAhead and kSliceAhead
// turns after the one at head.
template <class Index>
void prefetch_queue_ahead(const NeighborIndex<Index>& index, const std::vector<std::uint64_t>& queue,
                          std::size_t head) {
    if (head + kOffsetsAhead < queue.size()) index.prefetch_offsets(queue[head + kOffsetsAhead]);
    if (head + kSliceAhead < queue.size()) index.prefetch_slice(queue[head + kSliceAhead]);
}

// Whether node ids fit 4-byte entries (always, short of 2^32 node slots).
inline bool small_node_ids(const GraphView& g) {
    return g.nodes.size() <= std::numeric_limits<std::uint32_t>::max();
}

// Neighbours through live edges passing the filter, duplicates kept: targets of outgoing
// edges (Out), sources of incoming ones (In), or both, outgoing first (Both).
template <class Index>
NeighborIndex<Index> build_neighbor_index(const GraphView& g, const EdgeTypeFilter& filter, Direction direction);

// Keeps only the first occurrence of each neighbour within every node's list.
template <class Index>
void keep_distinct_neighbors(NeighborIndex<Index>& index, std::size_t node_slots);

// A visited set of one bit per node slot: a whole-graph walk tests it once per edge, and at
// an eighth of a byte per node it stays in cache where a byte or stamp array would not.
class NodeBits {
public:
    explicit NodeBits(std::size_t size) : words_((size + 63) / 64, 0) {}
    // Marks id; true when it was not marked before.
    bool insert(std::uint64_t id) {
        std::uint64_t& word = words_[id >> 6];
        std::uint64_t bit = std::uint64_t{1} << (id & 63);
        if (word & bit) return false;
        word |= bit;
        return true;
    }

private:
    std::vector<std::uint64_t> words_;
};

}  // namespace qm
