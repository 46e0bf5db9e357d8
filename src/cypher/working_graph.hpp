// WorkingGraph: the graph one Cypher statement reads and writes: a view of the graph as it
// stood when the statement (or transaction) began, plus an overlay of records the
// statement or transaction created and has not committed. The overlay's ids continue from
// the view's bounds, so view + overlay ascends by id just as the view does, and nothing
// of the graph is ever copied.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/graph.hpp"
#include "core/view.hpp"
#include "core/result.hpp"
#include "cypher/value.hpp"

namespace qm::cypher {

// Records created but not yet committed. Node i has id node_base + i, edge i edge_base + i.
struct Overlay {
    std::uint64_t node_base = 0;
    std::uint64_t edge_base = 0;
    std::vector<NodeRecord> nodes;
    std::vector<EdgeRecord> edges;
    // Per node (base or overlay), its overlay edges in ascending id order.
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> out, in;
    std::unordered_map<std::string, std::uint64_t> external_ids;

    struct Mark {
        std::size_t nodes = 0, edges = 0;
    };
    Mark mark() const { return {nodes.size(), edges.size()}; }
    // Drops everything added after the mark: a failed statement leaves no trace.
    void truncate(Mark m);
    bool empty() const { return nodes.empty() && edges.empty(); }
};

enum class Way : std::uint8_t { Out, In, Both };

class WorkingGraph {
public:
    // The overlay's bases must be the view's next ids.
    WorkingGraph(const GraphView& base, Overlay& overlay) : base_(base), ov_(overlay) {}

    const GraphView& base() const { return base_; }
    const Overlay& overlay() const { return ov_; }
    std::uint64_t node_bound() const { return ov_.node_base; }
    std::uint64_t edge_bound() const { return ov_.edge_base; }
    std::uint64_t next_node_id() const { return ov_.node_base + ov_.nodes.size(); }
    std::uint64_t next_edge_id() const { return ov_.edge_base + ov_.edges.size(); }

    bool node_exists(std::uint64_t id) const {
        return id < ov_.node_base ? base_.node_exists(id) : id - ov_.node_base < ov_.nodes.size();
    }
    bool edge_exists(std::uint64_t id) const {
        return id < ov_.edge_base ? base_.edge_exists(id) : id - ov_.edge_base < ov_.edges.size();
    }
    std::shared_ptr<const NodeRecord> node_record(std::uint64_t id) const;
    std::shared_ptr<const EdgeRecord> edge_record(std::uint64_t id) const;
    std::uint64_t edge_source(std::uint64_t id) const {
        return id < ov_.edge_base ? base_.edge_source(id) : ov_.edges[id - ov_.edge_base].source;
    }
    std::uint64_t edge_target(std::uint64_t id) const {
        return id < ov_.edge_base ? base_.edge_target(id) : ov_.edges[id - ov_.edge_base].target;
    }
    std::string_view edge_type(std::uint64_t id) const {
        return id < ov_.edge_base ? base_.edge_type_of(id) : std::string_view(ov_.edges[id - ov_.edge_base].edge_type);
    }
    bool node_has_label(std::uint64_t id, std::string_view label) const;
    // The stored value, with the node's external id standing in for an absent external_id.
    CypherValue node_property(std::uint64_t id, std::string_view key) const;
    CypherValue edge_property(std::uint64_t id, std::string_view key) const;
    CypherValue node_labels(std::uint64_t id) const;

    // Calls f(edge id, far node) for the node's edges in ascending edge-id order. Both
    // merges the two directions; a self-loop comes once.
    template <class F>
    bool for_each_edge(std::uint64_t node, Way way, F&& f) const;

    // Live node ids in ascending order: every node, those with a label, or those whose
    // stored value under key could equal value (a superset; the caller checks each).
    // nodes_with_value is false when the index cannot answer for this value.
    void all_nodes(std::vector<std::uint64_t>& out) const;
    void nodes_with_label(std::string_view label, std::vector<std::uint64_t>& out) const;
    bool nodes_with_value(std::string_view key, const CypherValue& value, std::vector<std::uint64_t>& out) const;
    std::size_t label_size(std::string_view label) const;

    // Insertion into the overlay, validated as the graph's own insertion would be.
    [[nodiscard]] Result<std::uint64_t> add_node(std::optional<std::string> external_id,
                                                 std::vector<std::string> labels, PropertyMap properties);
    [[nodiscard]] Result<std::uint64_t> add_edge(std::uint64_t source, std::uint64_t target,
                                                 std::string edge_type, PropertyMap properties);

private:
    // Walks one node's edges in one direction, ascending: the view's compacted slice and
    // delta list, then the overlay's.
    struct EdgeCursor {
        std::span<const std::uint64_t> parts[3];
        std::size_t part = 0, at = 0;
        void settle() {
            while (part < 3 && at == parts[part].size()) {
                ++part;
                at = 0;
            }
        }
        bool done() const { return part == 3; }
        std::uint64_t get() const { return parts[part][at]; }
        std::uint64_t next() {
            std::uint64_t e = parts[part][at++];
            settle();
            return e;
        }
    };
    EdgeCursor cursor(std::uint64_t node, bool outgoing) const {
        EdgeCursor c;
        if (node < ov_.node_base) {
            EdgeIdRange r = base_.edge_ids_for_node(node, outgoing);
            c.parts[0] = r.compacted;
            c.parts[1] = r.delta;
        }
        if (auto* extra = overlay_edges(node, outgoing)) c.parts[2] = *extra;
        c.settle();
        return c;
    }
    // The view's edges of node in one direction.
    template <class F>
    bool base_edges(std::uint64_t node, bool outgoing, F&& f) const;
    const std::vector<std::uint64_t>* overlay_edges(std::uint64_t node, bool outgoing) const {
        const auto& m = outgoing ? ov_.out : ov_.in;
        auto it = m.find(node);
        return it == m.end() ? nullptr : &it->second;
    }

    // A statement looks up the same few keys and labels once per row: remember the ones
    // found. Only hits are kept, because a symbol's text never changes once interned.
    std::optional<Symbol> base_symbol(std::string_view text) const {
        for (const auto& [known, sym] : recent_)
            if (known.data() && known == text) return sym;  // unused slots hold no text at all
        auto found = base_.symbols->find(text);
        if (found) recent_[next_recent_++ % std::size(recent_)] = {base_.symbols->text(*found), *found};
        return found;
    }

    GraphView base_;
    Overlay& ov_;
    mutable std::pair<std::string_view, Symbol> recent_[4] = {};  // texts live in the symbol table
    mutable std::size_t next_recent_ = 0;
};

// ---------------------------------------------------------------- inline

template <class F>
bool WorkingGraph::base_edges(std::uint64_t node, bool outgoing, F&& f) const {
    if (node >= ov_.node_base) return true;  // an overlay node has no base edges
    EdgeIdRange r = base_.edge_ids_for_node(node, outgoing);
    for (auto span : {r.compacted, r.delta})
        for (std::uint64_t e : span)
            if (!f(e)) return false;
    return true;
}

template <class F>
bool WorkingGraph::for_each_edge(std::uint64_t node, Way way, F&& f) const {
    if (way != Way::Both) {
        bool out = way == Way::Out;
        auto far = [&](std::uint64_t e) { return out ? edge_target(e) : edge_source(e); };
        if (!base_edges(node, out, [&](std::uint64_t e) { return f(e, far(e)); })) return false;
        if (auto* extra = overlay_edges(node, out))
            for (std::uint64_t e : *extra)
                if (!f(e, far(e))) return false;
        return true;
    }
    // Merge the two ascending lists; an edge in both is a self-loop and comes once.
    EdgeCursor outs = cursor(node, true), ins = cursor(node, false);
    while (!outs.done() || !ins.done()) {
        if (ins.done() || (!outs.done() && outs.get() <= ins.get())) {
            std::uint64_t e = outs.next();
            if (!ins.done() && ins.get() == e) ins.next();
            if (!f(e, edge_target(e))) return false;
        } else {
            std::uint64_t e = ins.next();
            if (!f(e, edge_source(e))) return false;
        }
    }
    return true;
}

}  // namespace qm::cypher
