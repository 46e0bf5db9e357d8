#include "cypher/working_graph.hpp"

#include <algorithm>
#include <cmath>

#include "core/messages.hpp"

namespace qm::cypher {

void Overlay::truncate(Mark m) {
    while (edges.size() > m.edges) {
        const EdgeRecord& e = edges.back();
        for (auto* side : {&out, &in}) {
            auto it = side->find(side == &out ? e.source : e.target);
            if (it == side->end()) continue;
            it->second.pop_back();
            if (it->second.empty()) side->erase(it);
        }
        edges.pop_back();
    }
    while (nodes.size() > m.nodes) {
        external_ids.erase(nodes.back().external_id);
        nodes.pop_back();
    }
}

namespace {

CypherValue from_view(const ValueView& v) {
    switch (v.kind) {
        case ValueKind::Bool: return v.b;
        case ValueKind::Int: return v.i;
        case ValueKind::Float: return v.f;
        case ValueKind::String: return std::string(v.s);
    }
    return Null{};
}

CypherValue from_property(const PropertyValue* v) {
    if (!v) return Null{};
    return std::visit([](const auto& x) { return CypherValue(x); }, *v);
}

// Sorted union of ascending id lists.
void merge_into(std::vector<std::uint64_t>& acc, const std::vector<std::uint64_t>& more) {
    if (more.empty()) return;
    std::vector<std::uint64_t> merged;
    merged.reserve(acc.size() + more.size());
    std::set_union(acc.begin(), acc.end(), more.begin(), more.end(), std::back_inserter(merged));
    acc.swap(merged);
}

}  // namespace

std::shared_ptr<const NodeRecord> WorkingGraph::node_record(std::uint64_t id) const {
    if (id >= ov_.node_base) return std::make_shared<const NodeRecord>(ov_.nodes[id - ov_.node_base]);
    return std::make_shared<const NodeRecord>(*base_.get_node(id));
}

std::shared_ptr<const EdgeRecord> WorkingGraph::edge_record(std::uint64_t id) const {
    if (id >= ov_.edge_base) return std::make_shared<const EdgeRecord>(ov_.edges[id - ov_.edge_base]);
    return std::make_shared<const EdgeRecord>(*base_.get_edge(id));
}

bool WorkingGraph::node_has_label(std::uint64_t id, std::string_view label) const {
    if (id >= ov_.node_base) {
        const auto& labels = ov_.nodes[id - ov_.node_base].labels;
        return std::find(labels.begin(), labels.end(), label) != labels.end();
    }
    auto sym = base_symbol(label);
    if (!sym) return false;
    for (Symbol s : base_.labels_of(id))
        if (s == *sym) return true;
    return false;
}

CypherValue WorkingGraph::node_property(std::uint64_t id, std::string_view key) const {
    if (id >= ov_.node_base) {
        const NodeRecord& n = ov_.nodes[id - ov_.node_base];
        if (const PropertyValue* v = n.properties.find(key)) return from_property(v);
        if (key == "external_id") return n.external_id;
        return Null{};
    }
    if (auto sym = base_symbol(key)) {
        ValueView v;
        if (find_property(base_.nodes[id].props, *sym, v)) return from_view(v);
    }
    if (key == "external_id") return base_.nodes[id].external_id;
    return Null{};
}

CypherValue WorkingGraph::edge_property(std::uint64_t id, std::string_view key) const {
    if (id >= ov_.edge_base) return from_property(ov_.edges[id - ov_.edge_base].properties.find(key));
    if (auto sym = base_symbol(key)) {
        ValueView v;
        if (find_property(base_.edges[id].props, *sym, v)) return from_view(v);
    }
    return Null{};
}

CypherValue WorkingGraph::node_labels(std::uint64_t id) const {
    CypherList out;
    if (id >= ov_.node_base) {
        for (const auto& l : ov_.nodes[id - ov_.node_base].labels) out.emplace_back(l);
    } else {
        for (Symbol s : base_.labels_of(id)) out.emplace_back(std::string(base_.symbols->text(s)));
    }
    return out;
}

void WorkingGraph::all_nodes(std::vector<std::uint64_t>& out) const {
    std::uint64_t end = base_.nodes.size();
    out.reserve(out.size() + base_.node_count() + ov_.nodes.size());
    for (std::uint64_t id = 0; id < end; ++id)
        if (base_.nodes[id].occupied()) out.push_back(id);
    for (std::size_t i = 0; i < ov_.nodes.size(); ++i) out.push_back(ov_.node_base + i);
}

std::size_t WorkingGraph::label_size(std::string_view label) const {
    auto sym = base_symbol(label);
    return sym ? base_.node_ids_with_label(*sym).size() : 0;
}

void WorkingGraph::nodes_with_label(std::string_view label, std::vector<std::uint64_t>& out) const {
    if (auto sym = base_symbol(label)) {
        auto ids = base_.node_ids_with_label(*sym);
        out.insert(out.end(), ids.begin(), ids.end());
    }
    for (std::size_t i = 0; i < ov_.nodes.size(); ++i) {
        const auto& labels = ov_.nodes[i].labels;
        if (std::find(labels.begin(), labels.end(), label) != labels.end()) out.push_back(ov_.node_base + i);
    }
}

bool WorkingGraph::nodes_with_value(std::string_view key, const CypherValue& value,
                                    std::vector<std::uint64_t>& out) const {
    // Every stored value that Cypher's equality could find equal to value. Ints meet floats
    // through doubles: an Int i equals the Float (double)i (and -0.0 for 0); a Float f
    // equals exactly one Int when it is integral and below 2^53, and a run of Ints beyond
    // that, which the index cannot list, so those values fall back to a scan.
    std::vector<PropertyValue> probes;
    switch (value.v.index()) {
        case 1: probes.emplace_back(std::get<bool>(value.v)); break;
        case 2: {
            std::int64_t i = std::get<std::int64_t>(value.v);
            probes.emplace_back(i);
            probes.emplace_back(static_cast<double>(i));
            if (i == 0) probes.emplace_back(-0.0);
            break;
        }
        case 3: {
            double f = std::get<double>(value.v);
            if (std::isnan(f)) break;
            probes.emplace_back(f);
            if (f == 0) probes.emplace_back(-f);
            if (std::trunc(f) == f) {
                if (std::fabs(f) < 9007199254740992.0) probes.emplace_back(static_cast<std::int64_t>(f));
                else if (std::fabs(f) <= 9223372036854775808.0) return false;
            }
            break;
        }
        case 4: probes.emplace_back(std::get<std::string>(value.v)); break;
        default: break;  // Null, nodes, edges, lists and maps equal no stored value
    }
    std::vector<std::uint64_t> acc;
    for (const PropertyValue& p : probes) merge_into(acc, base_.nodes_with_property(key, p));
    if (key == "external_id" && value.v.index() == 4)
        if (auto id = base_.get_node_id(std::get<std::string>(value.v)))
            merge_into(acc, std::vector<std::uint64_t>{*id});
    out.insert(out.end(), acc.begin(), acc.end());
    for (std::size_t i = 0; i < ov_.nodes.size(); ++i) out.push_back(ov_.node_base + i);
    return true;
}

Result<std::uint64_t> WorkingGraph::add_node(std::optional<std::string> external_id, std::vector<std::string> labels,
                                             PropertyMap properties) {
    for (const auto& label : labels)
        if (label.empty()) return fail(std::string(qm::msg::kLabelEmpty));
    QM_CHECK(validate_properties(properties));
    const std::uint64_t id = next_node_id();
    if (id == ~std::uint64_t{0}) return fail(std::string(qm::msg::kNodeIdOverflow));
    if (!external_id) external_id = "node:" + std::to_string(id);
    if (external_id->empty()) return fail(std::string(qm::msg::kExternalIdEmpty));
    if (base_.get_node_id(*external_id) || ov_.external_ids.count(*external_id))
        return fail(qm::msg::external_id_exists(*external_id));
    NodeRecord rec;
    rec.id = id;
    rec.external_id = std::move(*external_id);
    rec.labels = std::move(labels);
    rec.properties = std::move(properties);
    ov_.external_ids.emplace(rec.external_id, id);
    ov_.nodes.push_back(std::move(rec));
    return id;
}

Result<std::uint64_t> WorkingGraph::add_edge(std::uint64_t source, std::uint64_t target, std::string edge_type,
                                             PropertyMap properties) {
    if (edge_type.empty()) return fail(std::string(qm::msg::kEdgeTypeEmpty));
    QM_CHECK(validate_properties(properties));
    if (!node_exists(source)) return fail(qm::msg::node_not_found(source));
    if (!node_exists(target)) return fail(qm::msg::node_not_found(target));
    const std::uint64_t id = next_edge_id();
    if (id == ~std::uint64_t{0}) return fail(std::string(qm::msg::kEdgeIdOverflow));
    EdgeRecord rec;
    rec.id = id;
    rec.source = source;
    rec.target = target;
    rec.edge_type = std::move(edge_type);
    rec.properties = std::move(properties);
    ov_.out[source].push_back(id);
    ov_.in[target].push_back(id);
    ov_.edges.push_back(std::move(rec));
    return id;
}

}  // namespace qm::cypher
