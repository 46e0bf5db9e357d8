// The store's writes. Each logged write is one immediate transaction that appends one
// op-log row per created record; factor tables and posteriors are single auto-commit
// statements and are not logged.
#include <sqlite3.h>

#include <algorithm>
#include <unordered_set>

#include "codec/field_codec.hpp"
#include "core/messages.hpp"
#include "sqlite/sqlite_store_impl.hpp"

namespace qm {

namespace {

// The statements a batch repeats, prepared once per batch and reset between rows.
struct OpLogWriter {
    Statement stmt;
    Status append(std::string_view op, std::uint64_t object_id, std::string_view payload) {
        QM_CHECK(stmt.bind_text(1, op));
        QM_CHECK(stmt.bind_u64(2, object_id));
        QM_CHECK(stmt.bind_text(3, payload));
        QM_CHECK(stmt.step_done());
        return stmt.reset();
    }
};

Result<OpLogWriter> op_log_writer(Connection& conn) {
    QM_TRY(stmt, conn.prepare("INSERT INTO op_log (op, object_id, payload) VALUES (?1, ?2, ?3);"));
    return OpLogWriter{std::move(stmt)};
}

// Property rows of one scope ("node" or "edge") and the catalog rows they imply.
class PropertyRowWriter {
public:
    static Result<PropertyRowWriter> prepare(Connection& conn, std::string_view scope) {
        const char* sql = scope == "node"
                              ? "INSERT OR REPLACE INTO node_properties (node_id, key, value_type, value_text) "
                                "VALUES (?1, ?2, ?3, ?4);"
                              : "INSERT OR REPLACE INTO edge_properties (edge_id, key, value_type, value_text) "
                                "VALUES (?1, ?2, ?3, ?4);";
        QM_TRY(rows, conn.prepare(sql));
        QM_TRY(keys, conn.prepare("INSERT OR IGNORE INTO property_keys (scope, key) VALUES (?1, ?2);"));
        QM_TRY(values, conn.prepare("INSERT OR IGNORE INTO property_values (scope, key, value_type, "
                                    "value_text) VALUES (?1, ?2, ?3, ?4);"));
        return PropertyRowWriter(scope, std::move(rows), std::move(keys), std::move(values));
    }

    template <class Props>
    Status write(std::uint64_t id, const Props& props) {
        return props.each([&](std::string_view key, const ValueView& value) -> Status {
            std::string_view type = type_name(value.kind);
            std::string text_buf;
            std::string_view text;
            if (value.kind == ValueKind::String) {
                text = value.s;
            } else {
                text_buf = encoded_value(value);
                text = text_buf;
            }
            QM_CHECK(rows_.bind_u64(1, id));
            QM_CHECK(rows_.bind_text(2, key));
            QM_CHECK(rows_.bind_text(3, type));
            QM_CHECK(rows_.bind_text(4, text));
            QM_CHECK(rows_.step_done());
            QM_CHECK(rows_.reset());
            return catalog(key, type, text);
        });
    }

private:
    PropertyRowWriter(std::string_view scope, Statement rows, Statement keys, Statement values)
        : scope_(scope), rows_(std::move(rows)), keys_(std::move(keys)), values_(std::move(values)) {}

    // The catalog rows are INSERT OR IGNORE: repeating one inside a batch changes nothing,
    // so each distinct row is sent once per batch.
    Status catalog(std::string_view key, std::string_view type, std::string_view text) {
        std::string& probe = probe_;
        probe.assign(key);
        probe.push_back('\0');  // cannot occur inside stored text
        probe.append(type);
        probe.push_back('\0');
        probe.append(text);
        if (!values_seen_.insert(probe).second) return ok();
        if (keys_seen_.insert(std::string(key)).second) QM_CHECK(catalog_key(key));
        QM_CHECK(values_.bind_text(1, scope_));
        QM_CHECK(values_.bind_text(2, key));
        QM_CHECK(values_.bind_text(3, type));
        QM_CHECK(values_.bind_text(4, text));
        QM_CHECK(values_.step_done());
        return values_.reset();
    }

    Status catalog_key(std::string_view key) {
        QM_CHECK(keys_.bind_text(1, scope_));
        QM_CHECK(keys_.bind_text(2, key));
        QM_CHECK(keys_.step_done());
        return keys_.reset();
    }

    std::string_view scope_;
    Statement rows_;
    Statement keys_;
    Statement values_;
    std::unordered_set<std::string> keys_seen_;
    std::unordered_set<std::string> values_seen_;
    std::string probe_;
};

// A record's properties as (key, value) pairs in key order, whichever form holds them.
// each(f) stops at f's first error.
struct MapProps {
    const PropertyMap& map;
    template <class F>
    Status each(F&& f) const {
        for (const auto& [key, value] : map) QM_CHECK(f(std::string_view(key), view_of(value)));
        return ok();
    }
};

struct StagedProps {
    const PropertyBatch& batch;
    PropertyBatch::Run run;
    template <class F>
    Status each(F&& f) const {
        for (const auto& e : batch.entries(run)) QM_CHECK(f(batch.key_text(e.key), batch.view(e)));
        return ok();
    }
};

template <class Props>
void append_encoded_props(std::string& out, const Props& props) {
    bool first = true;
    (void)props.each([&](std::string_view key, const ValueView& value) -> Status {
        if (!first) out.push_back('\n');
        first = false;
        append_encoded_entry(out, key, value);
        return ok();
    });
}

// The node and edge rows of one write, from detached records (a transaction's commit) or
// from a staged insertion batch, behind one set of accessors.
struct DetachedNodes {
    std::span<const NodeRecord> records;
    std::size_t size() const { return records.size(); }
    std::uint64_t id(std::size_t i) const { return records[i].id; }
    std::string_view external_id(std::size_t i) const { return records[i].external_id; }
    std::span<const std::string> labels(std::size_t i) const { return records[i].labels; }
    MapProps props(std::size_t i) const { return {records[i].properties}; }
};

struct StagedNodes {
    std::uint64_t first_id;
    std::span<const NewNodeRecord> records;
    const PropertyBatch& batch;
    std::size_t size() const { return records.size(); }
    std::uint64_t id(std::size_t i) const { return first_id + i; }
    std::string_view external_id(std::size_t i) const { return *records[i].external_id; }
    std::span<const std::string> labels(std::size_t i) const { return records[i].labels; }
    StagedProps props(std::size_t i) const { return {batch, records[i].properties}; }
};

struct DetachedEdges {
    std::span<const EdgeRecord> records;
    std::size_t size() const { return records.size(); }
    std::uint64_t id(std::size_t i) const { return records[i].id; }
    std::uint64_t source(std::size_t i) const { return records[i].source; }
    std::uint64_t target(std::size_t i) const { return records[i].target; }
    std::string_view edge_type(std::size_t i) const { return records[i].edge_type; }
    MapProps props(std::size_t i) const { return {records[i].properties}; }
};

struct StagedEdges {
    std::uint64_t first_id;
    std::span<const NewEdgeRecord> records;
    const TextTable& types;
    const PropertyBatch& batch;
    std::size_t size() const { return records.size(); }
    std::uint64_t id(std::size_t i) const { return first_id + i; }
    std::uint64_t source(std::size_t i) const { return records[i].source; }
    std::uint64_t target(std::size_t i) const { return records[i].target; }
    std::string_view edge_type(std::size_t i) const { return types.text(records[i].edge_type); }
    StagedProps props(std::size_t i) const { return {batch, records[i].properties}; }
};

}  // namespace

template <class Body>
Status SqliteStore::logged_transaction(Body&& body) {
    std::optional<std::uint64_t> expected = std::exchange(guard_, std::nullopt);
    seq_after_write_.reset();
    QM_CHECK(conn_.exec("BEGIN IMMEDIATE;"));
    auto run = [&]() -> Result<std::uint64_t> {
        if (expected) {
            QM_TRY(seq, read_op_seq());
            if (seq != *expected) return fail(std::string(msg::kStale));
        }
        QM_CHECK(body());
        return read_op_seq();
    };
    auto seq = run();
    if (!seq) {
        (void)conn_.exec("ROLLBACK;");
        return fail(std::move(seq.error()));
    }
    auto committed = conn_.exec("COMMIT;");
    if (!committed) {
        // A transaction left open would hold the write lock and block every other handle.
        if (!sqlite3_get_autocommit(conn_.handle())) (void)conn_.exec("ROLLBACK;");
        return committed;
    }
    seq_after_write_ = *seq;
    return ok();
}


namespace {

// A large batch scatters its rows over several indexes at once; with the default page
// cache their pages are evicted and re-read for almost every row. Give the batch a cache
// sized to it while it runs, and hand the memory back afterwards.
constexpr std::size_t kLargeBatch = 20000;
constexpr std::int64_t kCacheKibPerRecord = 1;
constexpr std::int64_t kMaxBatchCacheKib = 1 << 20;

class BatchCache {
public:
    BatchCache(Connection& conn, std::size_t records) : conn_(conn) {
        if (records < kLargeBatch) return;
        auto current = conn_.prepare("PRAGMA cache_size;");
        if (!current || !current->step_row().value_or(false)) return;
        previous_ = current->column_i64(0);
        std::int64_t kib = std::min<std::int64_t>(static_cast<std::int64_t>(records) * kCacheKibPerRecord,
                                                  kMaxBatchCacheKib);
        // Only a speed-up: if it cannot be had, the batch runs with the default cache.
        active_ = conn_.exec("PRAGMA cache_size = -" + std::to_string(kib) + ";").has_value();
    }
    ~BatchCache() {
        if (active_) (void)conn_.exec("PRAGMA cache_size = " + std::to_string(previous_) + ";");
    }

private:
    Connection& conn_;
    std::int64_t previous_ = 0;
    bool active_ = false;
};

}  // namespace

namespace {

template <class Nodes, class Edges>
Status write_graph_rows(Connection& conn, const Nodes& nodes, const Edges& edges) {
    if (nodes.size() == 0 && edges.size() == 0) return ok();
    QM_TRY(log, op_log_writer(conn));
    std::string labels, props;
    if (nodes.size() > 0) {
        QM_TRY(insert, conn.prepare("INSERT INTO nodes (id, external_id, labels, properties) "
                                    "VALUES (?1, ?2, ?3, ?4);"));
        QM_TRY(prop_rows, PropertyRowWriter::prepare(conn, "node"));
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const std::uint64_t id = nodes.id(i);
            labels = encode_list(nodes.labels(i));
            props.clear();
            append_encoded_props(props, nodes.props(i));
            QM_CHECK(insert.bind_u64(1, id));
            QM_CHECK(insert.bind_text(2, nodes.external_id(i)));
            QM_CHECK(insert.bind_text(3, labels));
            QM_CHECK(insert.bind_text(4, props));
            QM_CHECK(insert.step_done());
            QM_CHECK(insert.reset());
            QM_CHECK(prop_rows.write(id, nodes.props(i)));
            QM_CHECK(log.append("add_node", id, nodes.external_id(i)));
        }
    }
    if (edges.size() > 0) {
        QM_TRY(insert, conn.prepare("INSERT INTO edges (id, source, target, edge_type, properties) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5);"));
        QM_TRY(prop_rows, PropertyRowWriter::prepare(conn, "edge"));
        for (std::size_t i = 0; i < edges.size(); ++i) {
            const std::uint64_t id = edges.id(i);
            props.clear();
            append_encoded_props(props, edges.props(i));
            QM_CHECK(insert.bind_u64(1, id));
            QM_CHECK(insert.bind_u64(2, edges.source(i)));
            QM_CHECK(insert.bind_u64(3, edges.target(i)));
            QM_CHECK(insert.bind_text(4, edges.edge_type(i)));
            QM_CHECK(insert.bind_text(5, props));
            QM_CHECK(insert.step_done());
            QM_CHECK(insert.reset());
            QM_CHECK(prop_rows.write(id, edges.props(i)));
            QM_CHECK(log.append("add_edge", id, edges.edge_type(i)));
        }
    }
    return ok();
}

}  // namespace

Status SqliteStore::insert_graph_records(std::span<const NodeRecord> nodes,
                                         std::span<const EdgeRecord> edges) {
    BatchCache cache(conn_, nodes.size() + edges.size());
    return logged_transaction([&] { return write_graph_rows(conn_, DetachedNodes{nodes}, DetachedEdges{edges}); });
}

Status SqliteStore::insert_nodes(std::uint64_t first_id, std::span<const NewNodeRecord> nodes,
                                 const PropertyBatch& props) {
    BatchCache cache(conn_, nodes.size());
    return logged_transaction([&] {
        return write_graph_rows(conn_, StagedNodes{first_id, nodes, props}, DetachedEdges{{}});
    });
}

Status SqliteStore::insert_edges(std::uint64_t first_id, std::span<const NewEdgeRecord> edges,
                                 const TextTable& types, const PropertyBatch& props) {
    BatchCache cache(conn_, edges.size());
    return logged_transaction([&] {
        return write_graph_rows(conn_, DetachedNodes{{}}, StagedEdges{first_id, edges, types, props});
    });
}

Status SqliteStore::insert_variable(const VariableRecord& v) {
    return logged_transaction([&]() -> Status {
        QM_TRY(insert, conn_.prepare("INSERT INTO variables (id, owner_id, domain, prior, posterior) "
                                     "VALUES (?1, ?2, ?3, ?4, ?5);"));
        QM_CHECK(insert.bind_u64(1, v.id));
        if (v.owner_id) {
            QM_CHECK(insert.bind_u64(2, *v.owner_id));
        } else {
            QM_CHECK(insert.bind_null(2));
        }
        QM_CHECK(insert.bind_text(3, v.domain));
        QM_CHECK(insert.bind_text(4, encode_map(v.prior)));
        QM_CHECK(insert.bind_text(5, encode_map(v.posterior)));
        QM_CHECK(insert.step_done());
        if (!v.states.empty()) {
            QM_TRY(state, conn_.prepare("INSERT OR REPLACE INTO variable_states (variable_id, state_index, "
                                        "state) VALUES (?1, ?2, ?3);"));
            for (std::size_t i = 0; i < v.states.size(); ++i) {
                QM_CHECK(state.bind_u64(1, v.id));
                QM_CHECK(state.bind_i64(2, static_cast<std::int64_t>(i)));
                QM_CHECK(state.bind_text(3, v.states[i]));
                QM_CHECK(state.step_done());
                QM_CHECK(state.reset());
            }
        }
        QM_TRY(log, op_log_writer(conn_));
        return log.append("add_variable", v.id, v.domain);
    });
}

namespace {

// The factor row and its op-log row, inside the caller's transaction.
Status write_factor_rows(Connection& conn, const FactorRecord& f) {
    QM_TRY(insert, conn.prepare("INSERT INTO factors (id, input_variables, output_variables, function, "
                                "parameters) VALUES (?1, ?2, ?3, ?4, ?5);"));
    QM_CHECK(insert.bind_u64(1, f.id));
    QM_CHECK(insert.bind_text(2, encode_u64_list(f.input_variables)));
    QM_CHECK(insert.bind_text(3, encode_u64_list(f.output_variables)));
    QM_CHECK(insert.bind_text(4, f.function));
    QM_CHECK(insert.bind_text(5, encode_map(f.parameters)));
    QM_CHECK(insert.step_done());
    QM_TRY(log, op_log_writer(conn));
    return log.append("add_factor", f.id, f.function);
}

Status write_factor_table_row(Connection& conn, const FactorTableRecord& t) {
    QM_TRY(stmt, conn.prepare("INSERT OR REPLACE INTO factor_tables (factor_id, variables, values_text, "
                              "is_cpd) VALUES (?1, ?2, ?3, ?4);"));
    QM_CHECK(stmt.bind_u64(1, t.factor_id));
    QM_CHECK(stmt.bind_text(2, encode_u64_list(t.variables)));
    QM_CHECK(stmt.bind_text(3, encode_f64_list(t.values)));
    QM_CHECK(stmt.bind_i64(4, t.is_cpd ? 1 : 0));
    return stmt.step_done();
}

}  // namespace

Status SqliteStore::insert_factor(const FactorRecord& f) {
    return logged_transaction([&]() -> Status { return write_factor_rows(conn_, f); });
}

Status SqliteStore::insert_factor_with_table(const FactorRecord& factor, const FactorTableRecord& table) {
    return logged_transaction([&]() -> Status {
        QM_CHECK(write_factor_rows(conn_, factor));
        return write_factor_table_row(conn_, table);
    });
}

Status SqliteStore::insert_evidence(const EvidenceRecord& e) {
    return logged_transaction([&]() -> Status {
        QM_TRY(insert, conn_.prepare("INSERT INTO evidence (id, variable_id, payload) VALUES (?1, ?2, ?3);"));
        QM_CHECK(insert.bind_u64(1, e.id));
        QM_CHECK(insert.bind_u64(2, e.variable_id));
        QM_CHECK(insert.bind_text(3, encode_map(e.payload)));
        QM_CHECK(insert.step_done());
        QM_TRY(log, op_log_writer(conn_));
        return log.append("add_evidence", e.id, std::to_string(e.variable_id));
    });
}

Status SqliteStore::insert_trace(const TraceRecord& t) {
    return logged_transaction([&]() -> Status {
        QM_TRY(insert, conn_.prepare("INSERT INTO traces (id, payload) VALUES (?1, ?2);"));
        QM_CHECK(insert.bind_u64(1, t.id));
        QM_CHECK(insert.bind_text(2, encode_map(t.payload)));
        QM_CHECK(insert.step_done());
        QM_TRY(log, op_log_writer(conn_));
        return log.append("add_trace", t.id, "trace");
    });
}

Status SqliteStore::insert_factor_table(const FactorTableRecord& t) { return write_factor_table_row(conn_, t); }

Status SqliteStore::upsert_posterior(std::uint64_t variable_id, std::span<const double> values) {
    QM_TRY(stmt, conn_.prepare("INSERT INTO latest_posteriors (variable_id, values_text) VALUES (?1, ?2) "
                               "ON CONFLICT(variable_id) DO UPDATE SET values_text = excluded.values_text;"));
    QM_CHECK(stmt.bind_u64(1, variable_id));
    QM_CHECK(stmt.bind_text(2, encode_f64_list(values)));
    return stmt.step_done();
}

Status SqliteStore::upsert_posteriors(std::span<const std::pair<std::uint64_t, std::vector<double>>> entries) {
    // Not logged (posteriors never make other handles stale), but one transaction under
    // the write lock, so a run's beliefs land together or not at all.
    return logged_transaction([&]() -> Status {
        if (entries.empty()) return ok();
        QM_TRY(stmt, conn_.prepare("INSERT INTO latest_posteriors (variable_id, values_text) VALUES (?1, ?2) "
                                   "ON CONFLICT(variable_id) DO UPDATE SET values_text = excluded.values_text;"));
        for (const auto& [id, values] : entries) {
            QM_CHECK(stmt.bind_u64(1, id));
            QM_CHECK(stmt.bind_text(2, encode_f64_list(values)));
            QM_CHECK(stmt.step_done());
            QM_CHECK(stmt.reset());
        }
        return ok();
    });
}

}  // namespace qm
