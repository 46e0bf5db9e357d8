// GraphView: a read view of the graph, and the one type every read path takes.
//
// Records are only appended, ids are dense and never reused, and per node and direction
// the adjacency ascends by edge id. So the graph as it stood at one moment is the live
// graph cut at that moment's next ids, plus that moment's counters and posteriors. A view
// is exactly that: the containers of one GraphCore read through bounds. The live graph is
// the view whose bounds are its current ends (a GraphCore converts to one implicitly).
//
// A view is a value for the length of one call. It reads the core's vectors through the
// core on every access, so it stays sound even if the core appends meanwhile (Python code
// run while results are built may write to the live graph); but spans handed out by it
// (adjacency, index id lists) are only good until the next write. Keep the bounds
// (ViewBounds, or a Snapshot) across calls and make a fresh view from them on each call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/graph.hpp"

namespace qm {

using PosteriorMap = std::unordered_map<std::uint64_t, std::vector<double>>;

// The first size() slots of one of the core's slot vectors, read through the vector itself
// so a reallocation behind the view cannot leave it dangling. The vectors only grow, so
// the size fixed at construction stays right.
template <class T>
class BoundedSlots {
public:
    BoundedSlots() = default;
    BoundedSlots(const std::vector<T>& slots, std::uint64_t bound)
        : slots_(&slots), size_(static_cast<std::size_t>(std::min<std::uint64_t>(slots.size(), bound))) {}
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T& operator[](std::size_t i) const { return (*slots_)[i]; }
    // Iterators are good until the core's next write.
    const T* begin() const { return slots_->data(); }
    const T* end() const { return slots_->data() + size_; }

private:
    const std::vector<T>* slots_ = nullptr;
    std::size_t size_ = 0;
};

// Where a view cuts the graph: the next id of each record kind, and the live node and
// edge counts as they stood then.
struct ViewBounds {
    std::uint64_t next_node_id = 0;
    std::uint64_t next_edge_id = 0;
    std::uint64_t next_variable_id = 0;
    std::uint64_t next_factor_id = 0;
    std::uint64_t next_evidence_id = 0;
    std::uint64_t next_trace_id = 0;
    std::uint64_t node_count = 0;
    std::uint64_t edge_count = 0;

    // The core's current ends.
    static ViewBounds of(const GraphCore& core);
};

class GraphView {
public:
    // The whole live graph. Implicit: a GraphCore passes wherever a view is read.
    GraphView(const GraphCore& core);  // NOLINT(google-explicit-constructor)
    // The graph cut at bounds, which must not lie past the core's ends. posteriors, when
    // given, replaces the core's (a snapshot keeps those of its moment) and must outlive
    // the view.
    GraphView(const GraphCore& core, const ViewBounds& bounds, const PosteriorMap* posteriors = nullptr);

    // ---- the slot tables, cut at the bounds (names as on GraphCore) ----
    // nodes[id] / edges[id] for id below the bound; check occupied() (or use *_exists).
    BoundedSlots<NodeSlot> nodes;
    BoundedSlots<EdgeSlot> edges;
    BoundedSlots<std::optional<VariableRecord>> variables;
    BoundedSlots<std::optional<FactorRecord>> factors;
    BoundedSlots<std::optional<EvidenceRecord>> evidence;
    BoundedSlots<std::optional<TraceRecord>> traces;
    // Shared with the live graph and append-only: a symbol made after the view's moment
    // simply finds no ids below its bounds.
    const SymbolTable* symbols = nullptr;

    const ViewBounds& bounds() const { return bounds_; }
    std::uint64_t next_node_id() const { return bounds_.next_node_id; }
    std::uint64_t next_edge_id() const { return bounds_.next_edge_id; }
    std::uint64_t next_variable_id() const { return bounds_.next_variable_id; }
    std::uint64_t next_factor_id() const { return bounds_.next_factor_id; }
    std::uint64_t next_evidence_id() const { return bounds_.next_evidence_id; }
    std::uint64_t next_trace_id() const { return bounds_.next_trace_id; }

    // ---- lookups (never fail; results as GraphCore's, restricted to the view) ----
    bool node_exists(std::uint64_t id) const { return id < nodes.size() && nodes[id].occupied(); }
    bool edge_exists(std::uint64_t id) const { return id < edges.size() && edges[id].occupied(); }
    std::optional<NodeRecord> get_node(std::uint64_t id) const;
    std::optional<EdgeRecord> get_edge(std::uint64_t id) const;
    std::optional<std::uint64_t> get_node_id(std::string_view external_id) const;
    // Ascending.
    std::vector<std::uint64_t> node_ids() const;
    std::vector<std::uint64_t> edge_ids() const;
    std::uint64_t node_count() const { return bounds_.node_count; }
    std::uint64_t edge_count() const { return bounds_.edge_count; }
    // Ascending; empty for an unknown label, type or key.
    std::vector<std::uint64_t> nodes_with_label(std::string_view label) const;
    std::vector<std::uint64_t> edges_by_type(std::string_view edge_type) const;
    // The same without a copy, by symbol, valid for the call.
    std::span<const std::uint64_t> node_ids_with_label(Symbol label) const;
    std::span<const std::uint64_t> edge_ids_with_type(Symbol edge_type) const;
    std::vector<std::uint64_t> nodes_with_property(std::string_view key,
                                                   const std::optional<PropertyValue>& value) const;
    std::vector<std::uint64_t> edges_with_property(std::string_view key,
                                                   const std::optional<PropertyValue>& value) const;

    // ---- one live record's parts (no existence check) ----
    std::string_view external_id_of(std::uint64_t id) const { return nodes[id].external_id; }
    // Label symbols in creation order.
    std::span<const Symbol> labels_of(std::uint64_t id) const {
        return std::span<const Symbol>(core_->label_pool).subspan(nodes[id].label_begin, nodes[id].label_count);
    }
    PropertyMap node_properties_of(std::uint64_t id) const { return unpack_properties(nodes[id].props, *symbols); }
    PropertyMap edge_properties_of(std::uint64_t id) const { return unpack_properties(edges[id].props, *symbols); }
    std::string_view edge_type_of(std::uint64_t id) const { return symbols->text(edges[id].type); }
    std::uint64_t edge_source(std::uint64_t id) const { return edges[id].source; }
    std::uint64_t edge_target(std::uint64_t id) const { return edges[id].target; }
    Symbol edge_type_symbol(std::uint64_t id) const { return edges[id].type; }

    // ---- adjacency ----
    // The node's edges in one direction that lie inside the view, ascending (compacted
    // slice, then delta list); no existence check. Views at the live end pay nothing for
    // the cut.
    EdgeIdRange edge_ids_for_node(std::uint64_t node, bool outgoing) const {
        EdgeIdRange r = core_->edge_ids_for_node(node, outgoing);
        if (cut_edges_) cut_range(r);
        return r;
    }

    // ---- the probabilistic records ----
    // Present records below the bounds.
    std::uint64_t variable_count() const;
    std::uint64_t factor_count() const;
    std::uint64_t evidence_count() const;
    std::uint64_t trace_count() const;
    const VariableRecord* variable(std::uint64_t id) const {
        return id < variables.size() && variables[id] ? &*variables[id] : nullptr;
    }
    const FactorRecord* factor(std::uint64_t id) const {
        return id < factors.size() && factors[id] ? &*factors[id] : nullptr;
    }
    const EvidenceRecord* evidence_record(std::uint64_t id) const {
        return id < evidence.size() && evidence[id] ? &*evidence[id] : nullptr;
    }
    const TraceRecord* trace(std::uint64_t id) const {
        return id < traces.size() && traces[id] ? &*traces[id] : nullptr;
    }
    // The table of a factor inside the view, or null.
    const FactorTableRecord* factor_table(std::uint64_t factor_id) const;
    // f(const FactorTableRecord&) for every table inside the view, ascending by factor id.
    template <class F>
    void for_each_factor_table(F&& f) const {
        if (core_->factor_tables.empty()) return;
        for (std::uint64_t id = 0; id < factors.size(); ++id)
            if (const FactorTableRecord* t = factor_table(id)) f(*t);
    }
    // A variable's latest posterior as of the view's moment, or null.
    const std::vector<double>* posterior(std::uint64_t variable_id) const;
    // Every posterior of the view (keys are variable ids below the bound).
    const PosteriorMap& posteriors() const { return *posteriors_; }

private:
    void cut_range(EdgeIdRange& r) const;
    std::span<const std::uint64_t> cut_nodes(std::span<const std::uint64_t> ids) const;
    std::span<const std::uint64_t> cut_edges(std::span<const std::uint64_t> ids) const;

    const GraphCore* core_;
    ViewBounds bounds_;
    const PosteriorMap* posteriors_;
    // Whether the bounds lie below the core's ends, so lists must be cut.
    bool cut_nodes_ = false;
    bool cut_edges_ = false;
};

}  // namespace qm
