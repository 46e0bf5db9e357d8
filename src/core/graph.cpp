#include "core/graph.hpp"

#include <algorithm>

#include "core/messages.hpp"
#include "core/store.hpp"
#include "core/view.hpp"

namespace qm {

StoreSlot::StoreSlot() = default;
StoreSlot::~StoreSlot() = default;
StoreSlot::StoreSlot(StoreSlot&&) noexcept = default;
StoreSlot& StoreSlot::operator=(StoreSlot&&) noexcept = default;
StoreSlot::StoreSlot(const StoreSlot&) {}
StoreSlot& StoreSlot::operator=(const StoreSlot&) {
    ptr.reset();
    return *this;
}

GraphCore::GraphCore()
    : symbols(std::make_shared<SymbolTable>()), arena(std::make_shared<BlobArena>()) {}
GraphCore::~GraphCore() = default;
GraphCore::GraphCore(GraphCore&&) noexcept = default;
GraphCore& GraphCore::operator=(GraphCore&&) noexcept = default;

namespace {

// Grows a vector geometrically even when asked for an exact size, so repeated small
// batches stay amortised constant time per element.
template <class V>
void reserve_for(V& v, std::size_t extra) {
    std::size_t need = v.size() + extra;
    if (need > v.capacity()) v.reserve(std::max(need, v.capacity() * 2));
}

}  // namespace

// ---------------------------------------------------------------- insertion

Result<std::uint64_t> GraphCore::add_node(std::optional<std::string> external_id,
                                          std::vector<std::string> labels, PropertyMap properties) {
    std::vector<NewNodeRecord> one(1);
    one[0].external_id = std::move(external_id);
    one[0].labels = std::move(labels);
    PropertyBatch batch;
    one[0].properties = batch.add_map(properties);
    QM_TRY(ids, add_nodes(std::move(one), batch));
    return ids[0];
}

Result<std::uint64_t> GraphCore::add_edge(std::uint64_t source, std::uint64_t target,
                                          std::string edge_type, PropertyMap properties) {
    std::vector<NewEdgeRecord> one(1);
    one[0].source = source;
    one[0].target = target;
    TextTable types;
    one[0].edge_type = types.id(edge_type);
    PropertyBatch batch;
    one[0].properties = batch.add_map(properties);
    QM_TRY(ids, add_edges(std::move(one), types, batch));
    return ids[0];
}

Result<std::vector<std::uint64_t>> GraphCore::add_nodes(std::vector<NewNodeRecord> records,
                                                       const PropertyBatch& props) {
    const std::size_t n = records.size();
    // Validation settles each record's external id in place (the default one included), so
    // the write pass can place records straight from the batch.
    std::vector<std::uint64_t> hashes;
    hashes.reserve(n);
    // External ids taken earlier in this batch, keyed by position: a flat table sized once,
    // so a large batch costs no allocation per record.
    ExternalIdIndex batch_ids;
    if (n > 1) batch_ids.reserve(n);
    auto key_of = [this](std::uint64_t id) { return external_id_of(id); };
    auto batch_key_of = [&records](std::uint64_t pos) -> std::string_view {
        return *records[pos].external_id;
    };
    for (std::size_t i = 0; i < n; ++i) {
        NewNodeRecord& rec = records[i];
        for (const auto& label : rec.labels)
            if (label.empty()) return fail(std::string(msg::kLabelEmpty));
        QM_CHECK(props.validate(rec.properties));
        if (next_node_id > ~std::uint64_t{0} - i) return fail(std::string(msg::kNodeIdOverflow));
        if (!rec.external_id) rec.external_id = "node:" + std::to_string(next_node_id + i);
        const std::string& external_id = *rec.external_id;
        if (external_id.empty()) return fail(std::string(msg::kExternalIdEmpty));
        std::uint64_t h = ExternalIdIndex::hash(external_id);
        if (external_ids.find(external_id, h, key_of) || (n > 1 && batch_ids.find(external_id, h, batch_key_of)))
            return fail(msg::external_id_exists(external_id));
        if (n > 1) batch_ids.insert(h, i);
        hashes.push_back(h);
    }
    const std::uint64_t first = next_node_id;
    if (store) {
        QM_CHECK(ensure_store_current());
        QM_CHECK(store->insert_nodes(first, records, props));
        note_committed_write();
    }
    reserve_for(nodes, n);
    reserve_for(delta_out, n);
    reserve_for(delta_in, n);
    external_ids.reserve(external_ids.size() + n);
    std::vector<std::uint64_t> ids(n);
    std::vector<Symbol> key_syms;
    for (std::size_t i = 0; i < n; ++i) {
        NewNodeRecord& rec = records[i];
        ids[i] = first + i;
        auto pack = [&] {
            return pack_properties(props, rec.properties, key_syms, *symbols, *arena, node_property_index, ids[i]);
        };
        place_node(ids[i], std::move(*rec.external_id), rec.labels, pack, hashes[i]);
    }
    return ids;
}

Result<std::vector<std::uint64_t>> GraphCore::add_edges(std::vector<NewEdgeRecord> records,
                                                       const TextTable& types,
                                                       const PropertyBatch& props) {
    const std::size_t n = records.size();
    const TextTable::Id empty_type = types.empty_id();
    for (std::size_t i = 0; i < n; ++i) {
        const NewEdgeRecord& rec = records[i];
        if (rec.edge_type == empty_type) return fail(std::string(msg::kEdgeTypeEmpty));
        QM_CHECK(props.validate(rec.properties));
        if (!node_exists(rec.source)) return fail(msg::node_not_found(rec.source));
        if (!node_exists(rec.target)) return fail(msg::node_not_found(rec.target));
        if (next_edge_id > ~std::uint64_t{0} - i) return fail(std::string(msg::kEdgeIdOverflow));
    }
    const std::uint64_t first = next_edge_id;
    if (store) {
        QM_CHECK(ensure_store_current());
        QM_CHECK(store->insert_edges(first, records, types, props));
        note_committed_write();
    }
    if (n > 0) {
        reserve_for(edges, n);
        edges.resize(std::max<std::uint64_t>(edges.size(), first + n));
    }
    if (n >= kBulkEdges) reserve_delta_lists(records);
    std::vector<std::uint64_t> ids(n);
    // Each distinct type is interned when first met, keeping the order symbols are made in.
    std::vector<Symbol> type_syms(types.size(), kNoSymbol);
    std::vector<IdSet*> type_ids(types.size(), nullptr);
    std::vector<Symbol> key_syms;
    for (std::size_t i = 0; i < n; ++i) {
        const NewEdgeRecord& rec = records[i];
        ids[i] = first + i;
        Symbol& type = type_syms[rec.edge_type];
        if (type == kNoSymbol) {
            type = symbols->intern(types.text(rec.edge_type));
            type_ids[rec.edge_type] = &edge_type_index[type];
        }
        PackedProps blob =
            pack_properties(props, rec.properties, key_syms, *symbols, *arena, edge_property_index, ids[i]);
        place_edge(ids[i], rec.source, rec.target, blob, type, *type_ids[rec.edge_type], true);
    }
    if (store) apply_compaction_rule_after_commit();
    return ids;
}

Status GraphCore::insert_node_record(const NodeRecord& record) {
    std::uint64_t h = ExternalIdIndex::hash(record.external_id);
    auto key_of = [this](std::uint64_t id) { return external_id_of(id); };
    if (external_ids.find(record.external_id, h, key_of))
        return fail(msg::external_id_exists(record.external_id));
    if (record.id == ~std::uint64_t{0}) return fail(std::string(msg::kNodeIdOverflow));
    if (node_exists(record.id)) return fail(msg::node_id_exists(record.id));
    if (record.external_id.empty()) return fail(std::string(msg::kExternalIdEmpty));
    auto pack = [&] { return pack_properties(record.properties, *symbols, *arena); };
    place_node(record.id, record.external_id, record.labels, pack, h);
    node_property_index.index(record.id, nodes[record.id].props);
    return ok();
}

Status GraphCore::insert_edge_record(const EdgeRecord& record) {
    if (record.id == ~std::uint64_t{0} || record.source == ~std::uint64_t{0} ||
        record.target == ~std::uint64_t{0})
        return fail(std::string(msg::kEdgeIdOverflow));
    if (edge_exists(record.id)) return fail(msg::edge_id_exists(record.id));
    place_edge(record);
    return ok();
}

Status GraphCore::insert_loaded_edge(const EdgeRecord& record) {
    if (!node_exists(record.source)) return fail(msg::node_not_found(record.source));
    if (!node_exists(record.target)) return fail(msg::node_not_found(record.target));
    return insert_edge_record(record);
}

void GraphCore::grow_slots(std::uint64_t id) {
    if (nodes.size() <= id) nodes.resize(id + 1);
    if (delta_out.size() <= id) delta_out.resize(id + 1);
    if (delta_in.size() <= id) delta_in.resize(id + 1);
}

template <class PackProps>
void GraphCore::place_node(std::uint64_t id, std::string external_id,
                           std::span<const std::string> labels, PackProps&& props_of,
                           std::uint64_t hash) {
    grow_adjacency(id);
    NodeSlot& slot = nodes[id];
    slot.label_begin = label_pool.size();
    slot.label_count = static_cast<std::uint32_t>(labels.size());
    for (const auto& label : labels) {
        Symbol sym = symbols->intern(label);
        label_pool.push_back(sym);
        label_index[sym].insert(id);
    }
    slot.props = props_of();
    slot.external_id = std::move(external_id);
    external_ids.insert(hash, id);
    next_node_id = std::max(next_node_id, id + 1);
    ++live_nodes_;
}

void GraphCore::reserve_delta_lists(std::span<const NewEdgeRecord> batch) {
    // One exact reservation per touched list instead of a chain of doublings: fewer copies
    // while a large batch lands, and no slack left behind in memory.
    std::vector<std::uint32_t> out_count(nodes.size(), 0), in_count(nodes.size(), 0);
    for (const NewEdgeRecord& e : batch) {
        ++out_count[e.source];
        ++in_count[e.target];
    }
    for (std::size_t v = 0; v < nodes.size(); ++v) {
        if (out_count[v] && delta_out[v].capacity() < delta_out[v].size() + out_count[v])
            delta_out[v].reserve(delta_out[v].size() + out_count[v]);
        if (in_count[v] && delta_in[v].capacity() < delta_in[v].size() + in_count[v])
            delta_in[v].reserve(delta_in[v].size() + in_count[v]);
    }
}

void GraphCore::place_edge(std::uint64_t id, std::uint64_t source, std::uint64_t target,
                           PackedProps props, Symbol type, IdSet& type_ids, bool to_delta) {
    if (edges.size() <= id) edges.resize(id + 1);
    grow_adjacency(std::max(source, target));
    if (to_delta) {
        delta_out[source].push_back(id);
        delta_in[target].push_back(id);
        delta_edges_ += 1;
    }
    EdgeSlot& slot = edges[id];
    slot.source = source;
    slot.target = target;
    slot.type = type;
    type_ids.insert(id);
    slot.props = props;
    next_edge_id = std::max(next_edge_id, id + 1);
    ++live_edges_;
}

void GraphCore::place_edge(const EdgeRecord& record, bool to_delta) {
    Symbol type = symbols->intern(record.edge_type);
    PackedProps props = pack_properties(record.properties, *symbols, *arena);
    place_edge(record.id, record.source, record.target, props, type, edge_type_index[type], to_delta);
    edge_property_index.index(record.id, props);
}

// ---------------------------------------------------------------- lookups
// The view holds the read logic; the live graph is the view at its own ends.

std::optional<NodeRecord> GraphCore::get_node(std::uint64_t id) const { return GraphView(*this).get_node(id); }
std::optional<EdgeRecord> GraphCore::get_edge(std::uint64_t id) const { return GraphView(*this).get_edge(id); }
std::optional<std::uint64_t> GraphCore::get_node_id(std::string_view external_id) const {
    return GraphView(*this).get_node_id(external_id);
}
std::vector<std::uint64_t> GraphCore::node_ids() const { return GraphView(*this).node_ids(); }
std::vector<std::uint64_t> GraphCore::edge_ids() const { return GraphView(*this).edge_ids(); }
std::vector<std::uint64_t> GraphCore::nodes_with_label(std::string_view label) const {
    return GraphView(*this).nodes_with_label(label);
}
std::vector<std::uint64_t> GraphCore::edges_by_type(std::string_view edge_type) const {
    return GraphView(*this).edges_by_type(edge_type);
}
std::vector<std::uint64_t> GraphCore::nodes_with_property(std::string_view key,
                                                          const std::optional<PropertyValue>& value) const {
    return GraphView(*this).nodes_with_property(key, value);
}
std::vector<std::uint64_t> GraphCore::edges_with_property(std::string_view key,
                                                          const std::optional<PropertyValue>& value) const {
    return GraphView(*this).edges_with_property(key, value);
}

// ---------------------------------------------------------------- lifecycle

GraphCore GraphCore::snapshot() const {
    GraphCore copy(*this);  // the store slot copies as empty
    copy.loaded_op_seq.reset();
    copy.stale = false;
    copy.warnings.clear();
    return copy;
}

Status GraphCore::ensure_store_current() {
    if (!store) return ok();
    QM_TRY(seq, store->current_op_seq());
    if (stale || !loaded_op_seq || *loaded_op_seq != seq) return fail(std::string(msg::kStale));
    store->guard_next_write(seq);
    return ok();
}

void GraphCore::note_committed_write() {
    // The write is durable: failing now would invite a retry that duplicates it. Keep the
    // records, refuse further writes until refresh(), and say so as a warning.
    // The store notes the sequence inside the write's own transaction, so rows another
    // handle commits right after ours are never mistaken for seen.
    if (auto after = store->op_seq_after_write()) {
        loaded_op_seq = *after;
        return;
    }
    auto seq = store->current_op_seq();
    if (seq) {
        loaded_op_seq = *seq;
    } else {
        stale = true;
        warnings.push_back(seq.error());
    }
}

}  // namespace qm
