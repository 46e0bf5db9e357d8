// The in-memory form of node and edge records (slots indexed by id), and the span pair
// that lists one node's edges in one direction.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/packed_props.hpp"
#include "core/symbols.hpp"

namespace qm {

// A node slot; vacant when external_id is empty (a live node's external id never is).
struct NodeSlot {
    std::string external_id;
    PackedProps props = nullptr;
    std::uint64_t label_begin = 0;  // the labels are label_pool[label_begin, +label_count)
    std::uint32_t label_count = 0;
    bool occupied() const { return !external_id.empty(); }
};

// An edge slot; vacant when type is kNoSymbol.
struct EdgeSlot {
    std::uint64_t source = 0;
    std::uint64_t target = 0;
    PackedProps props = nullptr;
    Symbol type = kNoSymbol;
    bool occupied() const { return type != kNoSymbol; }
};

// The edges of one node in one direction: the compacted slice, then the delta list.
// Together they are in ascending edge-id order.
struct EdgeIdRange {
    std::span<const std::uint64_t> compacted;
    std::span<const std::uint64_t> delta;

    std::size_t size() const { return compacted.size() + delta.size(); }
    template <class F>
    void for_each(F&& f) const {
        for (std::uint64_t e : compacted) f(e);
        for (std::uint64_t e : delta) f(e);
    }
};

}  // namespace qm
