// Direction words, the adjacency primitives every walk rests on, and edge weights.
// A node's edges per direction come in ascending edge-id order (compacted slice, then the
// delta list), and every engine that walks edges relies on that order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/view.hpp"
#include "core/prefetch.hpp"
#include "core/result.hpp"

namespace qm {

enum class Direction { Out, In, Both };

// "out"/"outgoing", "in"/"incoming", "both"/"all"; case-sensitive.
[[nodiscard]] Result<Direction> parse_direction(std::string_view text);

// A set of node ids with O(1) clear: marks are stamped with an epoch, so reusing one set
// across many walks costs nothing per walk beyond the nodes it touches.
class NodeMarks {
public:
    explicit NodeMarks(std::size_t size = 0) : stamp_(size, 0) {}
    void reset(std::size_t size) {
        if (stamp_.size() < size) stamp_.resize(size, 0);
        if (++epoch_ == 0) {  // wrapped: clear for real
            std::fill(stamp_.begin(), stamp_.end(), 0);
            epoch_ = 1;
        }
    }
    bool contains(std::uint64_t id) const { return id < stamp_.size() && stamp_[id] == epoch_; }
    // Marks id; true when it was not marked before.
    bool insert(std::uint64_t id) {
        if (id >= stamp_.size()) stamp_.resize(id + 1, 0);
        if (stamp_[id] == epoch_) return false;
        stamp_[id] = epoch_;
        return true;
    }

private:
    std::vector<std::uint32_t> stamp_;
    std::uint32_t epoch_ = 1;
};

// Lends a per-thread, reusable T (a NodeMarks, a NodeValues) for one walk. Walks on big
// graphs are often short, and sizing fresh per-node state on every call would cost more than
// the walk itself; a lent object only grows. Nested leases on one thread get their own
// objects, so a walk may call another that also borrows scratch.
template <class T>
class ScratchLease {
public:
    ScratchLease() {
        auto& pool = free_list();
        if (pool.empty()) {
            obj_ = std::make_unique<T>();
        } else {
            obj_ = std::move(pool.back());
            pool.pop_back();
        }
    }
    ~ScratchLease() {
        auto& pool = free_list();
        if (pool.size() < kPoolLimit) pool.push_back(std::move(obj_));
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;

    T& operator*() { return *obj_; }
    T* operator->() { return obj_.get(); }

private:
    static constexpr std::size_t kPoolLimit = 4;
    // Reserved up front: returning an object to the pool happens in a destructor and must
    // never allocate.
    static std::vector<std::unique_ptr<T>>& free_list() {
        thread_local std::vector<std::unique_ptr<T>> pool = [] {
            std::vector<std::unique_ptr<T>> v;
            v.reserve(kPoolLimit);
            return v;
        }();
        return pool;
    }
    std::unique_ptr<T> obj_;
};

// A sparse map from node id to double over dense storage: ids touched since the last reset
// are remembered, so clearing and iterating cost only what the walk touched.
class NodeValues {
public:
    void reset(std::size_t size) {
        present_.reset(size);
        if (value_.size() < size) value_.resize(size);
        touched_.clear();
    }
    // Adds x to the value under id, which starts from 0.0 when id is new.
    void add(std::uint64_t id, double x) {
        if (present_.insert(id)) {
            if (id >= value_.size()) value_.resize(id + 1);
            value_[id] = 0.0;
            touched_.push_back(id);
        }
        value_[id] += x;
    }
    void set(std::uint64_t id, double x) {
        if (present_.insert(id)) {
            if (id >= value_.size()) value_.resize(id + 1);
            touched_.push_back(id);
        }
        value_[id] = x;
    }
    double operator[](std::uint64_t id) const { return value_[id]; }
    bool empty() const { return touched_.empty(); }
    // The ids touched since reset, in first-touch order.
    const std::vector<std::uint64_t>& ids() const { return touched_; }
    void sort_ids() { std::sort(touched_.begin(), touched_.end()); }

private:
    NodeMarks present_;
    std::vector<double> value_;
    std::vector<std::uint64_t> touched_;
};

// Optional edge-type filter resolved to a symbol once per call. A type no edge has
// matches nothing.
struct EdgeTypeFilter {
    bool active = false;
    Symbol symbol = kNoSymbol;
    static EdgeTypeFilter make(const GraphView& g, const std::optional<std::string>& type) {
        EdgeTypeFilter f;
        if (!type) return f;
        f.active = true;
        auto sym = g.symbols->find(*type);
        f.symbol = sym ? *sym : kNoSymbol;
        return f;
    }
    bool accepts(const EdgeSlot& e) const { return !active || (symbol != kNoSymbol && e.type == symbol); }
};

// Calls f(neighbour, edge_id) for every live edge of node in one direction that passes the
// filter, in adjacency order. No dedup.
template <class F>
void for_each_neighbor_edge(const GraphView& g, std::uint64_t node, bool outgoing,
                            const EdgeTypeFilter& filter, F&& f) {
    // Edge slots of one node lie scattered over the edge table, so each read is likely a
    // cache miss; asking for the slots a few edges ahead lets those misses overlap.
    constexpr std::size_t kAhead = 8;
    const std::size_t table = g.edges.size();
    const EdgeSlot* slots = g.edges.begin();  // no write can happen inside this loop
    auto ask = [&](std::uint64_t e) {
        if (e < table) prefetch_read(slots + e);
    };
    auto walk = [&](std::span<const std::uint64_t> ids) {
        const std::size_t n = ids.size();
        for (std::size_t i = 0; i < n && i < kAhead; ++i) ask(ids[i]);
        for (std::size_t i = 0; i < n; ++i) {
            if (i + kAhead < n) ask(ids[i + kAhead]);
            const std::uint64_t e = ids[i];
            if (e >= table) continue;
            const EdgeSlot& slot = slots[e];
            if (!slot.occupied() || !filter.accepts(slot)) continue;
            f(outgoing ? slot.target : slot.source, e);
        }
    };
    const EdgeIdRange range = g.edge_ids_for_node(node, outgoing);
    walk(range.compacted);
    walk(range.delta);
}

// Asks for the first edge slots of node ahead of a walk reaching it, so a breadth-first
// loop can overlap the misses of one node with the work on the one before.
inline void prefetch_node_edges(const GraphView& g, std::uint64_t node, bool outgoing) {
    constexpr std::size_t kFirst = 8;
    const EdgeIdRange range = g.edge_ids_for_node(node, outgoing);
    const std::size_t table = g.edges.size();
    std::size_t asked = 0;
    for (auto ids : {range.compacted, range.delta}) {
        for (std::size_t i = 0; i < ids.size() && asked < kFirst; ++i, ++asked)
            if (ids[i] < table) prefetch_read(&g.edges[ids[i]]);
    }
}

// Appends to out the not-yet-seen neighbours of node in one direction, marking them seen.
void collect_neighbors(const GraphView& g, std::uint64_t node, bool outgoing,
                       const EdgeTypeFilter& filter, NodeMarks& seen, std::vector<std::uint64_t>& out);
// The same, recording with each newly seen neighbour the edge that reached it first.
void collect_neighbor_edges(const GraphView& g, std::uint64_t node, bool outgoing,
                            const EdgeTypeFilter& filter, NodeMarks& seen,
                            std::vector<std::pair<std::uint64_t, std::uint64_t>>& out);
// Out: outgoing only; In: incoming only; Both: outgoing then incoming sharing `seen`.
// `seen` is reset by the call.
void neighbors_for_direction(const GraphView& g, std::uint64_t node, Direction direction,
                             const EdgeTypeFilter& filter, NodeMarks& seen,
                             std::vector<std::uint64_t>& out);

// The edge's weight under key: 1.0 when absent; ints converted, floats as they are, strings
// parsed; must be finite and not below zero.
[[nodiscard]] Result<double> edge_weight(const GraphView& g, std::uint64_t edge_id,
                                         std::optional<Symbol> key);

}  // namespace qm
