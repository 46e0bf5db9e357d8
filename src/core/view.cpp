#include "core/view.hpp"

#include <algorithm>

namespace qm {

namespace {

// An ascending id list cut before the first id at or past bound.
std::span<const std::uint64_t> below(std::span<const std::uint64_t> ids, std::uint64_t bound) {
    if (ids.empty() || ids.back() < bound) return ids;
    return ids.first(static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), bound) - ids.begin()));
}

void keep_below(std::vector<std::uint64_t>& ids, std::uint64_t bound) {
    ids.resize(below(ids, bound).size());
}

template <class T>
std::uint64_t present(const BoundedSlots<std::optional<T>>& slots) {
    return static_cast<std::uint64_t>(std::count_if(slots.begin(), slots.end(), [](const auto& s) { return s.has_value(); }));
}

}  // namespace

ViewBounds ViewBounds::of(const GraphCore& core) {
    ViewBounds b;
    b.next_node_id = core.next_node_id;
    b.next_edge_id = core.next_edge_id;
    b.next_variable_id = core.next_variable_id;
    b.next_factor_id = core.next_factor_id;
    b.next_evidence_id = core.next_evidence_id;
    b.next_trace_id = core.next_trace_id;
    b.node_count = core.node_count();
    b.edge_count = core.edge_count();
    return b;
}

GraphView::GraphView(const GraphCore& core) : GraphView(core, ViewBounds::of(core), nullptr) {}

GraphView::GraphView(const GraphCore& core, const ViewBounds& bounds, const PosteriorMap* posteriors)
    : nodes(core.nodes, bounds.next_node_id),
      edges(core.edges, bounds.next_edge_id),
      variables(core.variables, bounds.next_variable_id),
      factors(core.factors, bounds.next_factor_id),
      evidence(core.evidence, bounds.next_evidence_id),
      traces(core.traces, bounds.next_trace_id),
      symbols(core.symbols.get()),
      core_(&core),
      bounds_(bounds),
      posteriors_(posteriors ? posteriors : &core.posteriors),
      cut_nodes_(bounds.next_node_id < core.next_node_id),
      cut_edges_(bounds.next_edge_id < core.next_edge_id) {}

void GraphView::cut_range(EdgeIdRange& r) const {
    // Every delta id is above every compacted id, so a cut inside the compacted slice
    // leaves no delta edge.
    r.compacted = below(r.compacted, bounds_.next_edge_id);
    r.delta = below(r.delta, bounds_.next_edge_id);
}

std::span<const std::uint64_t> GraphView::cut_nodes(std::span<const std::uint64_t> ids) const {
    return cut_nodes_ ? below(ids, bounds_.next_node_id) : ids;
}

std::span<const std::uint64_t> GraphView::cut_edges(std::span<const std::uint64_t> ids) const {
    return cut_edges_ ? below(ids, bounds_.next_edge_id) : ids;
}

// ---------------------------------------------------------------- lookups

std::optional<NodeRecord> GraphView::get_node(std::uint64_t id) const {
    if (!node_exists(id)) return std::nullopt;
    const NodeSlot& slot = nodes[id];
    NodeRecord rec;
    rec.id = id;
    rec.external_id = slot.external_id;
    rec.labels.reserve(slot.label_count);
    for (Symbol sym : labels_of(id)) rec.labels.emplace_back(symbols->text(sym));
    rec.properties = unpack_properties(slot.props, *symbols);
    return rec;
}

std::optional<EdgeRecord> GraphView::get_edge(std::uint64_t id) const {
    if (!edge_exists(id)) return std::nullopt;
    const EdgeSlot& slot = edges[id];
    EdgeRecord rec;
    rec.id = id;
    rec.source = slot.source;
    rec.target = slot.target;
    rec.edge_type = std::string(symbols->text(slot.type));
    rec.properties = unpack_properties(slot.props, *symbols);
    return rec;
}

std::optional<std::uint64_t> GraphView::get_node_id(std::string_view external_id) const {
    if (external_id.empty()) return std::nullopt;
    const auto& all = core_->nodes;
    auto key_of = [&all](std::uint64_t id) { return std::string_view(all[id].external_id); };
    auto id = core_->external_ids.find(external_id, ExternalIdIndex::hash(external_id), key_of);
    if (id && *id >= nodes.size()) return std::nullopt;
    return id;
}

std::vector<std::uint64_t> GraphView::node_ids() const {
    std::vector<std::uint64_t> out;
    out.reserve(bounds_.node_count);
    for (std::uint64_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].occupied()) out.push_back(i);
    return out;
}

std::vector<std::uint64_t> GraphView::edge_ids() const {
    std::vector<std::uint64_t> out;
    out.reserve(bounds_.edge_count);
    for (std::uint64_t i = 0; i < edges.size(); ++i)
        if (edges[i].occupied()) out.push_back(i);
    return out;
}

namespace {

std::span<const std::uint64_t> ids_under(const std::unordered_map<Symbol, IdSet>& index, Symbol sym) {
    auto it = index.find(sym);
    if (it == index.end()) return {};
    return it->second.ids();
}

}  // namespace

std::span<const std::uint64_t> GraphView::node_ids_with_label(Symbol label) const {
    return cut_nodes(ids_under(core_->label_index, label));
}

std::span<const std::uint64_t> GraphView::edge_ids_with_type(Symbol edge_type) const {
    return cut_edges(ids_under(core_->edge_type_index, edge_type));
}

std::vector<std::uint64_t> GraphView::nodes_with_label(std::string_view label) const {
    auto sym = symbols->find(label);
    if (!sym) return {};
    auto ids = node_ids_with_label(*sym);
    return {ids.begin(), ids.end()};
}

std::vector<std::uint64_t> GraphView::edges_by_type(std::string_view edge_type) const {
    auto sym = symbols->find(edge_type);
    if (!sym) return {};
    auto ids = edge_ids_with_type(*sym);
    return {ids.begin(), ids.end()};
}

std::vector<std::uint64_t> GraphView::nodes_with_property(std::string_view key,
                                                          const std::optional<PropertyValue>& value) const {
    auto sym = symbols->find(key);
    std::vector<std::uint64_t> out;
    if (!value) {
        out = core_->node_property_index.with_key(sym);
    } else {
        const auto& all = core_->nodes;
        out = core_->node_property_index.with_value(sym, *value, [&](std::uint64_t id, ValueView& v) {
            return find_property(all[id].props, *sym, v);
        });
    }
    if (cut_nodes_) keep_below(out, bounds_.next_node_id);
    return out;
}

std::vector<std::uint64_t> GraphView::edges_with_property(std::string_view key,
                                                          const std::optional<PropertyValue>& value) const {
    auto sym = symbols->find(key);
    std::vector<std::uint64_t> out;
    if (!value) {
        out = core_->edge_property_index.with_key(sym);
    } else {
        const auto& all = core_->edges;
        out = core_->edge_property_index.with_value(sym, *value, [&](std::uint64_t id, ValueView& v) {
            return find_property(all[id].props, *sym, v);
        });
    }
    if (cut_edges_) keep_below(out, bounds_.next_edge_id);
    return out;
}

// ---------------------------------------------------------------- probabilistic records

std::uint64_t GraphView::variable_count() const { return present(variables); }
std::uint64_t GraphView::factor_count() const { return present(factors); }
std::uint64_t GraphView::evidence_count() const { return present(evidence); }
std::uint64_t GraphView::trace_count() const { return present(traces); }

const FactorTableRecord* GraphView::factor_table(std::uint64_t factor_id) const {
    if (factor_id >= factors.size()) return nullptr;
    auto it = core_->factor_tables.find(factor_id);
    return it == core_->factor_tables.end() ? nullptr : &it->second;
}

const std::vector<double>* GraphView::posterior(std::uint64_t variable_id) const {
    if (variable_id >= variables.size()) return nullptr;
    auto it = posteriors_->find(variable_id);
    return it == posteriors_->end() ? nullptr : &it->second;
}

}  // namespace qm
