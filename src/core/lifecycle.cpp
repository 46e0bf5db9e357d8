// A graph's life with a file behind it: opening (one consistent read of every table),
// refreshing after other handles wrote, and committing a transaction's records.
#include <cmath>
#include <unordered_set>

#include "core/graph.hpp"
#include "core/messages.hpp"
#include "core/store.hpp"

namespace qm {

namespace {

// Ids are dense, so a stored id far past its table's row count can only come from a
// damaged or hostile file; honouring it would allocate that many empty slots.
constexpr std::uint64_t kSlotSlack = 1 << 16;

// rows counts the table's rows read so far, this one included; rows arrive in id order.
Status check_slot_id(std::string_view kind, std::string_view table, std::uint64_t id, std::uint64_t rows) {
    std::uint64_t limit = rows + std::max<std::uint64_t>(rows, kSlotSlack);
    if (id < limit) return ok();
    return fail(msg::stored_id_beyond_rows(kind, table, id));
}

template <class Record>
Status place_in_slot(std::vector<std::optional<Record>>& slots, std::uint64_t& next_id, Record record,
                     std::string_view kind) {
    std::uint64_t id = record.id;
    if (id == ~std::uint64_t{0}) return fail(msg::record_id_overflows(kind));
    if (slots.size() <= id) slots.resize(id + 1);
    if (slots[id]) return fail(msg::record_id_exists(kind, id));
    slots[id] = std::move(record);
    next_id = std::max(next_id, id + 1);
    return ok();
}

// Puts a value in a member's place for a scope and puts the member back on every way
// out, a thrown allocation failure included, so a refused load leaves the graph intact.
template <class T>
class SwappedIn {
public:
    SwappedIn(T& value, T& member) : value_(value), member_(member) {
        if (&value_ != &member_) std::swap(value_, member_);
    }
    ~SwappedIn() {
        if (&value_ != &member_) std::swap(value_, member_);
    }
    SwappedIn(const SwappedIn&) = delete;
    SwappedIn& operator=(const SwappedIn&) = delete;

private:
    T& value_;
    T& member_;
};

bool variable_present(const GraphCore& g, std::uint64_t id) {
    return id < g.variables.size() && g.variables[id].has_value();
}

bool factor_present(const GraphCore& g, std::uint64_t id) {
    return id < g.factors.size() && g.factors[id].has_value();
}

// A stored table must be usable by inference as it stands: its shape must match the
// cardinalities of its variables, whatever the file says.
Status check_factor_table(const GraphCore& g, const FactorTableRecord& t) {
    if (t.variables.empty()) return fail(std::string(msg::kTableVariablesEmpty));
    std::uint64_t expected = 1;
    std::unordered_set<std::uint64_t> seen;
    for (std::uint64_t v : t.variables) {
        if (!variable_present(g, v)) return fail(msg::variable_not_found(v));
        if (!seen.insert(v).second) return fail(msg::duplicate_table_variable(v));
        std::uint64_t card = g.variables[v]->states.size();
        if (card != 0 && expected > ~std::uint64_t{0} / card) return fail(std::string(msg::kTableCardinalityOverflow));
        expected *= card;
    }
    if (t.values.size() != expected)
        return fail(msg::factor_table_size(t.values.size(), expected));
    bool any = false;
    for (double v : t.values) {
        if (!std::isfinite(v) || v < 0.0) return fail(std::string(msg::kTableValuesRange));
        if (v != 0.0) any = true;
    }
    if (!any) return fail(std::string(msg::kTableAllZero));
    if (t.is_cpd) {
        std::size_t chunk = g.variables[t.variables[0]]->states.size();
        for (std::size_t start = 0; chunk && start < t.values.size(); start += chunk) {
            double sum = -0.0;
            bool nonzero = false;
            for (std::size_t i = start; i < start + chunk; ++i) {
                sum += t.values[i];
                if (t.values[i] != 0.0) nonzero = true;
            }
            if (!nonzero) return fail(std::string(msg::kCpdChildAllZero));
            if (std::fabs(sum - 1.0) > 1e-9) return fail(std::string(msg::kCpdSum));
        }
    }
    if (!factor_present(g, t.factor_id)) return fail(msg::factor_not_found(t.factor_id));
    if (g.factor_tables.count(t.factor_id))
        return fail(msg::factor_table_exists(t.factor_id));
    return ok();
}

Result<std::vector<double>> loaded_posterior(const GraphCore& g, std::uint64_t variable_id,
                                             std::vector<double> values) {
    if (!variable_present(g, variable_id)) return fail(msg::variable_not_found(variable_id));
    if (values.size() != g.variables[variable_id]->states.size())
        return fail(msg::posterior_length(variable_id));
    double sum = -0.0;
    for (double v : values) sum += v;
    if (!std::isfinite(sum) || !(sum > 0.0)) return fail(std::string(msg::kDistributionMass));
    for (double& v : values) v /= sum;
    return values;
}

// Factor tables and posteriors are rewritten in place and not logged: always re-read whole.
Status load_tables_and_posteriors(GraphCore& g, GraphStore& source,
                                  std::unordered_map<std::uint64_t, FactorTableRecord>& tables,
                                  std::unordered_map<std::uint64_t, std::vector<double>>& posteriors) {
    QM_TRY(loaded_tables, source.load_factor_tables());
    {
        SwappedIn checked(tables, g.factor_tables);  // check against an empty map, then restore
        for (FactorTableRecord& t : loaded_tables) {
            QM_CHECK(check_factor_table(g, t));
            std::uint64_t id = t.factor_id;
            g.factor_tables.emplace(id, std::move(t));
        }
    }
    QM_TRY(loaded_posteriors, source.load_posteriors());
    for (auto& [id, values] : loaded_posteriors) {
        QM_TRY(normalized, loaded_posterior(g, id, std::move(values)));
        posteriors[id] = std::move(normalized);
    }
    return ok();
}

}  // namespace

// ---------------------------------------------------------------- open

Result<GraphCore> GraphCore::open(std::unique_ptr<GraphStore> store) {
    GraphCore g;
    QM_CHECK(g.load_from_store(*store));
    g.store.ptr = std::move(store);
    return g;
}

Status GraphCore::load_from_store(GraphStore& source) {
    StoreReadScope read(source);
    QM_CHECK(read.begin());

    std::uint64_t rows = 0;
    QM_CHECK(source.scan_nodes([&](NodeRecord& n) -> Status {
        QM_CHECK(check_slot_id("node", "nodes", n.id, ++rows));
        return insert_node_record(n);
    }));
    // Edges go straight to their slots; the segment installed below lists all of them.
    rows = 0;
    QM_CHECK(source.scan_edges([&](EdgeRecord& e) -> Status {
        QM_CHECK(check_slot_id("edge", "edges", e.id, ++rows));
        if (!node_exists(e.source)) return fail(msg::node_not_found(e.source));
        if (!node_exists(e.target)) return fail(msg::node_not_found(e.target));
        if (e.id == ~std::uint64_t{0}) return fail(std::string(msg::kEdgeIdOverflow));
        if (edge_exists(e.id)) return fail(msg::edge_id_exists(e.id));
        place_edge(e, false);
        return ok();
    }));

    auto cached = source.load_segment(nodes.size(), live_edges_);
    if (cached && segment_matches_edges(*cached, edges, nodes.size(), live_edges_)) {
        compacted_segment = std::move(*cached);
        clear_delta_segments();
    } else {
        rebuild_compacted_segment();
        // The rebuilt segment in memory is all the graph needs; a cache that cannot be
        // saved (unwritable directory, full disk) must not make an intact database
        // unopenable, so it is a warning and the next open rebuilds again.
        if (live_edges_ > 0) {
            auto saved = source.save_segment(compacted_segment, nodes.size(), live_edges_);
            if (!saved) warnings.push_back(std::move(saved.error()));
        }
    }

    QM_TRY(loaded_variables, source.load_variables());
    rows = 0;
    for (VariableRecord& v : loaded_variables) {
        QM_CHECK(check_slot_id("variable", "variables", v.id, ++rows));
        if (v.owner_id && !node_exists(*v.owner_id)) return fail(msg::node_not_found(*v.owner_id));
        QM_CHECK(place_in_slot(variables, next_variable_id, std::move(v), "variable"));
    }
    QM_TRY(loaded_factors, source.load_factors());
    rows = 0;
    for (FactorRecord& f : loaded_factors) {
        QM_CHECK(check_slot_id("factor", "factors", f.id, ++rows));
        QM_CHECK(place_in_slot(factors, next_factor_id, std::move(f), "factor"));
    }
    QM_CHECK(load_tables_and_posteriors(*this, source, factor_tables, posteriors));
    QM_TRY(loaded_evidence, source.load_evidence());
    rows = 0;
    for (EvidenceRecord& e : loaded_evidence) {
        QM_CHECK(check_slot_id("evidence", "evidence", e.id, ++rows));
        if (!variable_present(*this, e.variable_id))
            return fail(msg::variable_not_found(e.variable_id));
        QM_CHECK(place_in_slot(evidence, next_evidence_id, std::move(e), "evidence"));
    }
    QM_TRY(loaded_traces, source.load_traces());
    rows = 0;
    for (TraceRecord& t : loaded_traces) {
        QM_CHECK(check_slot_id("trace", "traces", t.id, ++rows));
        QM_CHECK(place_in_slot(traces, next_trace_id, std::move(t), "trace"));
    }
    QM_TRY(seq, source.current_op_seq());
    loaded_op_seq = seq;
    return ok();
}

// ---------------------------------------------------------------- refresh


// The rows other handles appended since this handle's op-log sequence, read in one
// read transaction.
struct AppendedRows {
    std::uint64_t seq = 0;
    std::vector<std::pair<std::string, std::uint64_t>> op_counts;
    std::vector<NodeRecord> nodes;
    std::vector<EdgeRecord> edges;
    std::vector<VariableRecord> variables;
    std::vector<FactorRecord> factors;
    std::vector<EvidenceRecord> evidence;
    std::vector<TraceRecord> traces;
    // Re-read whole: they are rewritten in place and not logged.
    std::unordered_map<std::uint64_t, FactorTableRecord> tables;
    std::unordered_map<std::uint64_t, std::vector<double>> posteriors;
};

namespace {

std::optional<AppendedRows> read_appended_rows(const GraphCore& g, GraphStore& source) {
    auto seq = source.current_op_seq();
    if (!seq || *seq < *g.loaded_op_seq) return std::nullopt;
    auto counts = source.op_counts_since(*g.loaded_op_seq);
    auto nodes = source.load_nodes_from(g.next_node_id);
    auto edges = source.load_edges_from(g.next_edge_id);
    auto variables = source.load_variables_from(g.next_variable_id);
    auto factors = source.load_factors_from(g.next_factor_id);
    auto evidence = source.load_evidence_from(g.next_evidence_id);
    auto traces = source.load_traces_from(g.next_trace_id);
    if (!counts || !nodes || !edges || !variables || !factors || !evidence || !traces) return std::nullopt;
    AppendedRows rows;
    rows.seq = *seq;
    rows.op_counts = std::move(*counts);
    rows.nodes = std::move(*nodes);
    rows.edges = std::move(*edges);
    rows.variables = std::move(*variables);
    rows.factors = std::move(*factors);
    rows.evidence = std::move(*evidence);
    rows.traces = std::move(*traces);
    return rows;
}

// Every new record must be logged and dense after the ones we hold; anything else means
// the file was changed some other way, and only a full reload is faithful.
bool rows_are_logged_appends(const GraphCore& g, const AppendedRows& rows) {
    std::uint64_t logged_total = 0;
    auto logged = [&](std::string_view op) -> std::uint64_t {
        for (const auto& [name, n] : rows.op_counts)
            if (name == op) return n;
        return 0;
    };
    for (const auto& entry : rows.op_counts) logged_total += entry.second;
    auto dense = [](const auto& records, std::uint64_t first) {
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i].id != first + i || records[i].id == ~std::uint64_t{0}) return false;
        return true;
    };
    if (logged("add_node") != rows.nodes.size() || logged("add_edge") != rows.edges.size() ||
        logged("add_variable") != rows.variables.size() || logged("add_factor") != rows.factors.size() ||
        logged("add_evidence") != rows.evidence.size() || logged("add_trace") != rows.traces.size())
        return false;
    if (logged_total != rows.nodes.size() + rows.edges.size() + rows.variables.size() + rows.factors.size() +
                            rows.evidence.size() + rows.traces.size())
        return false;
    return dense(rows.nodes, g.next_node_id) && dense(rows.edges, g.next_edge_id) &&
           dense(rows.variables, g.next_variable_id) && dense(rows.factors, g.next_factor_id) &&
           dense(rows.evidence, g.next_evidence_id) && dense(rows.traces, g.next_trace_id);
}

// Checks everything the inserts of apply_appended_rows could refuse, so they cannot fail
// half way.
bool rows_fit(const GraphCore& g, const AppendedRows& rows) {
    std::unordered_set<std::string_view> names;
    auto key_of = [&g](std::uint64_t id) { return std::string_view(g.nodes[id].external_id); };
    for (const NodeRecord& n : rows.nodes) {
        if (n.external_id.empty() || !names.insert(n.external_id).second) return false;
        if (g.external_ids.find(n.external_id, ExternalIdIndex::hash(n.external_id), key_of)) return false;
    }
    std::uint64_t node_limit = g.next_node_id + rows.nodes.size();
    auto node_will_exist = [&](std::uint64_t id) {
        return g.node_exists(id) || (id >= g.next_node_id && id < node_limit);
    };
    for (const EdgeRecord& e : rows.edges)
        if (!node_will_exist(e.source) || !node_will_exist(e.target)) return false;
    for (const VariableRecord& v : rows.variables)
        if (v.owner_id && !node_will_exist(*v.owner_id)) return false;
    std::uint64_t variable_limit = g.next_variable_id + rows.variables.size();
    for (const EvidenceRecord& e : rows.evidence)
        if (!variable_present(g, e.variable_id) &&
            !(e.variable_id >= g.next_variable_id && e.variable_id < variable_limit))
            return false;
    return true;
}

bool same_table(const FactorTableRecord& a, const FactorTableRecord& b) {
    return a.factor_id == b.factor_id && a.variables == b.variables && a.values == b.values && a.is_cpd == b.is_cpd;
}

bool tables_of_known_factors_unchanged(const GraphCore& g,
                                       const std::unordered_map<std::uint64_t, FactorTableRecord>& fresh) {
    std::size_t known = 0;
    for (const auto& [id, table] : fresh) {
        if (id >= g.next_factor_id) continue;
        ++known;
        auto it = g.factor_tables.find(id);
        if (it == g.factor_tables.end() || !same_table(it->second, table)) return false;
    }
    return known == g.factor_tables.size();
}

}  // namespace

bool GraphCore::refresh_incremental() {
    if (stale || !loaded_op_seq) return false;
    GraphStore& source = *store.ptr;
    StoreReadScope read(source);
    if (!read.begin()) return false;
    auto rows = read_appended_rows(*this, source);
    if (!rows || !rows_are_logged_appends(*this, *rows) || !rows_fit(*this, *rows)) return false;

    // Tables and posteriors are checked against the variables and factors as they will
    // be, so they are read into a graph that borrows the new records' shapes.
    std::vector<std::optional<VariableRecord>> variables_after = variables;
    std::vector<std::optional<FactorRecord>> factors_after = factors;
    variables_after.resize(next_variable_id);  // new ids continue right after the counters
    factors_after.resize(next_factor_id);
    for (const VariableRecord& v : rows->variables) variables_after.emplace_back(v);
    for (const FactorRecord& f : rows->factors) factors_after.emplace_back(f);
    Status loaded = ok();
    {
        SwappedIn with_variables(variables_after, variables);
        SwappedIn with_factors(factors_after, factors);
        loaded = load_tables_and_posteriors(*this, source, rows->tables, rows->posteriors);
    }
    if (!loaded) return false;
    // Snapshots read the tables of the factors they know from this very map, so those
    // must come back unchanged; a file where they changed is reloaded whole instead.
    if (!tables_of_known_factors_unchanged(*this, rows->tables)) return false;
    apply_appended_rows(*rows, std::move(variables_after), std::move(factors_after));
    return true;
}

void GraphCore::apply_appended_rows(AppendedRows& rows, std::vector<std::optional<VariableRecord>> variables_after,
                                    std::vector<std::optional<FactorRecord>> factors_after) {
    // Nothing here can fail: refresh_incremental checked it all.
    for (const NodeRecord& n : rows.nodes) (void)insert_node_record(n);
    for (const EdgeRecord& e : rows.edges) (void)insert_loaded_edge(e);
    variables = std::move(variables_after);
    factors = std::move(factors_after);
    next_variable_id += rows.variables.size();
    next_factor_id += rows.factors.size();
    for (EvidenceRecord& e : rows.evidence)
        (void)place_in_slot(evidence, next_evidence_id, std::move(e), "evidence");
    for (TraceRecord& t : rows.traces) (void)place_in_slot(traces, next_trace_id, std::move(t), "trace");
    factor_tables = std::move(rows.tables);
    posteriors = std::move(rows.posteriors);
    loaded_op_seq = rows.seq;
    // The new edges join the delta lists as this handle's own writes do, and the same rule
    // bounds them: folding on every refresh cost a pass over all edges, which a writer
    // refused as stale paid on each retry while the others kept committing. Reads cannot
    // tell the two forms apart (each node lists its compacted ids, then its larger delta ids).
    if (compaction_due()) fold_deltas_into_segment();
}

// ---------------------------------------------------------------- transaction commit

Status GraphCore::commit_transaction_snapshot(const GraphCore& working, std::uint64_t base_next_node_id,
                                              std::uint64_t base_next_edge_id) {
    if (next_node_id != base_next_node_id || next_edge_id != base_next_edge_id)
        return fail(std::string(msg::kTransactionConflict));
    std::vector<NodeRecord> created_nodes;
    std::vector<EdgeRecord> created_edges;
    for (std::uint64_t id = base_next_node_id; id < working.nodes.size(); ++id)
        if (auto n = working.get_node(id)) created_nodes.push_back(std::move(*n));
    for (std::uint64_t id = base_next_edge_id; id < working.edges.size(); ++id)
        if (auto e = working.get_edge(id)) created_edges.push_back(std::move(*e));
    return commit_transaction_records(std::move(created_nodes), std::move(created_edges), base_next_node_id,
                                      base_next_edge_id);
}

Status GraphCore::commit_transaction_records(std::vector<NodeRecord> created_nodes,
                                             std::vector<EdgeRecord> created_edges,
                                             std::uint64_t base_next_node_id, std::uint64_t base_next_edge_id) {
    if (next_node_id != base_next_node_id || next_edge_id != base_next_edge_id)
        return fail(std::string(msg::kTransactionConflict));
    // The file and memory must take the same records: refuse here anything the memory
    // inserts would, before the file is touched.
    std::unordered_set<std::string_view> names;
    std::unordered_set<std::uint64_t> new_ids;
    auto key_of = [this](std::uint64_t id) { return std::string_view(nodes[id].external_id); };
    for (const NodeRecord& n : created_nodes) {
        if (n.external_id.empty()) return fail(std::string(msg::kExternalIdEmpty));
        if (!names.insert(n.external_id).second ||
            external_ids.find(n.external_id, ExternalIdIndex::hash(n.external_id), key_of))
            return fail(msg::external_id_exists(n.external_id));
        if (n.id == ~std::uint64_t{0}) return fail(std::string(msg::kNodeIdOverflow));
        if (node_exists(n.id) || !new_ids.insert(n.id).second) return fail(msg::node_id_exists(n.id));
    }
    std::unordered_set<std::uint64_t> new_edge_ids;
    for (const EdgeRecord& e : created_edges) {
        for (std::uint64_t end : {e.source, e.target})
            if (!node_exists(end) && !new_ids.count(end)) return fail(msg::node_not_found(end));
        if (e.id == ~std::uint64_t{0}) return fail(std::string(msg::kEdgeIdOverflow));
        if (edge_exists(e.id) || !new_edge_ids.insert(e.id).second) return fail(msg::edge_id_exists(e.id));
    }
    if (store) {
        QM_CHECK(ensure_store_current());
        QM_CHECK(store->insert_graph_records(created_nodes, created_edges));
        note_committed_write();
    }
    for (const NodeRecord& n : created_nodes) (void)insert_node_record(n);
    for (const EdgeRecord& e : created_edges) (void)insert_edge_record(e);
    apply_compaction_rule_after_commit();
    return ok();
}

}  // namespace qm
