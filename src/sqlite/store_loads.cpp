// The store's loads: whole tables (or their tails, for refresh) in ascending key order,
// text columns decoded with the field codec. The first bad row ends the load.
#include <algorithm>
#include <span>

#include "codec/field_codec.hpp"
#include "core/messages.hpp"
#include "sqlite/sqlite_store_impl.hpp"

namespace qm {

namespace {

// SQLite keeps 'abc' or 1.7 in an INTEGER column as they are, and converting them on read
// would invent node ids (0, 1); so every loaded column must hold exactly its declared type.
// Each load selects the rowid right after its columns, to name the offending row.
enum class Want { Integer, OptionalInteger, Text };
struct Column {
    std::string_view name;
    Want want;
};

std::string_view type_name(Statement::Type t) {
    switch (t) {
        case Statement::Type::Integer: return "an integer";
        case Statement::Type::Real: return "a real";
        case Statement::Type::Text: return "text";
        case Statement::Type::Blob: return "a blob";
        case Statement::Type::Null: break;
    }
    return "null";
}

Status check_types(const Statement& s, std::string_view table, std::span<const Column> columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Statement::Type t = s.column_type(static_cast<int>(i));
        Want want = columns[i].want;
        bool fits = want == Want::Text ? t == Statement::Type::Text
                                       : t == Statement::Type::Integer ||
                                             (want == Want::OptionalInteger && t == Statement::Type::Null);
        if (!fits)
            return fail(msg::stored_column_type(table, s.column_i64(static_cast<int>(columns.size())),
                                                columns[i].name, type_name(t),
                                                want == Want::Text ? "text" : "an integer"));
    }
    return ok();
}

constexpr Column kNodeColumns[] = {
    {"id", Want::Integer}, {"external_id", Want::Text}, {"labels", Want::Text}, {"properties", Want::Text}};
constexpr Column kEdgeColumns[] = {{"id", Want::Integer},
                                   {"source", Want::Integer},
                                   {"target", Want::Integer},
                                   {"edge_type", Want::Text},
                                   {"properties", Want::Text}};
constexpr Column kVariableColumns[] = {{"id", Want::Integer},
                                       {"owner_id", Want::OptionalInteger},
                                       {"domain", Want::Text},
                                       {"prior", Want::Text},
                                       {"posterior", Want::Text}};
constexpr Column kFactorColumns[] = {{"id", Want::Integer},
                                     {"input_variables", Want::Text},
                                     {"output_variables", Want::Text},
                                     {"function", Want::Text},
                                     {"parameters", Want::Text}};
constexpr Column kTableColumns[] = {
    {"factor_id", Want::Integer}, {"variables", Want::Text}, {"values_text", Want::Text}, {"is_cpd", Want::Integer}};
constexpr Column kPosteriorColumns[] = {{"variable_id", Want::Integer}, {"values_text", Want::Text}};
constexpr Column kEvidenceColumns[] = {{"id", Want::Integer}, {"variable_id", Want::Integer}, {"payload", Want::Text}};
constexpr Column kTraceColumns[] = {{"id", Want::Integer}, {"payload", Want::Text}};
constexpr Column kStateColumns[] = {{"state", Want::Text}};

Result<std::uint64_t> id_column(const Statement& stmt, int index) {
    std::int64_t v = stmt.column_i64(index);
    if (v < 0) return fail(msg::negative_sqlite_integer(v));
    return static_cast<std::uint64_t>(v);
}

// Prepares sql, binds the optional lower id bound, steps every row through decode(stmt, out).
template <class Record, class Decode>
Result<std::vector<Record>> load_rows(Connection& conn, std::string_view sql,
                                      std::optional<std::uint64_t> first_id, Decode&& decode) {
    QM_TRY(stmt, conn.prepare(sql));
    if (first_id) QM_CHECK(stmt.bind_u64(1, *first_id));
    std::vector<Record> out;
    for (;;) {
        QM_TRY(row, stmt.step_row());
        if (!row) break;
        QM_CHECK(decode(stmt, out.emplace_back()));
    }
    return out;
}

// Scans rows into one reused record.
template <class Record, class Decode, class F>
Status scan_rows(Connection& conn, std::string_view sql, Decode&& decode, F&& f) {
    QM_TRY(stmt, conn.prepare(sql));
    Record record;
    for (;;) {
        QM_TRY(row, stmt.step_row());
        if (!row) return ok();
        QM_CHECK(decode(stmt, record));
        QM_CHECK(f(record));
    }
}

Status decode_node(const Statement& s, NodeRecord& n) {
    QM_CHECK(check_types(s, "nodes", kNodeColumns));
    QM_TRY(id, id_column(s, 0));
    n.id = id;
    std::string scratch;
    n.external_id.assign(s.column_text(1, scratch));
    n.labels = decode_list(s.column_text(2, scratch));
    QM_TRY(props, decode_map(s.column_text(3, scratch)));
    n.properties = std::move(props);
    return ok();
}

Status decode_edge(const Statement& s, EdgeRecord& e) {
    QM_CHECK(check_types(s, "edges", kEdgeColumns));
    QM_TRY(id, id_column(s, 0));
    QM_TRY(source, id_column(s, 1));
    QM_TRY(target, id_column(s, 2));
    e.id = id;
    e.source = source;
    e.target = target;
    std::string scratch;
    e.edge_type.assign(s.column_text(3, scratch));
    QM_TRY(props, decode_map(s.column_text(4, scratch)));
    e.properties = std::move(props);
    return ok();
}

Status decode_variable(const Statement& s, VariableRecord& v) {
    QM_CHECK(check_types(s, "variables", kVariableColumns));
    QM_TRY(id, id_column(s, 0));
    v.id = id;
    if (!s.column_is_null(1)) {
        QM_TRY(owner, id_column(s, 1));
        v.owner_id = owner;
    }
    std::string scratch;
    v.domain = std::string(s.column_text(2, scratch));
    QM_TRY(prior, decode_map(s.column_text(3, scratch)));
    QM_TRY(posterior, decode_map(s.column_text(4, scratch)));
    v.prior = std::move(prior);
    v.posterior = std::move(posterior);
    return ok();
}

Status decode_factor(const Statement& s, FactorRecord& f) {
    QM_CHECK(check_types(s, "factors", kFactorColumns));
    QM_TRY(id, id_column(s, 0));
    f.id = id;
    std::string scratch;
    QM_TRY(inputs, decode_u64_list(s.column_text(1, scratch)));
    QM_TRY(outputs, decode_u64_list(s.column_text(2, scratch)));
    f.input_variables = std::move(inputs);
    f.output_variables = std::move(outputs);
    f.function = std::string(s.column_text(3, scratch));
    QM_TRY(params, decode_map(s.column_text(4, scratch)));
    f.parameters = std::move(params);
    return ok();
}

Status decode_evidence(const Statement& s, EvidenceRecord& e) {
    QM_CHECK(check_types(s, "evidence", kEvidenceColumns));
    QM_TRY(id, id_column(s, 0));
    QM_TRY(variable, id_column(s, 1));
    e.id = id;
    e.variable_id = variable;
    std::string scratch;
    QM_TRY(payload, decode_map(s.column_text(2, scratch)));
    e.payload = std::move(payload);
    return ok();
}

Status decode_trace(const Statement& s, TraceRecord& t) {
    QM_CHECK(check_types(s, "traces", kTraceColumns));
    QM_TRY(id, id_column(s, 0));
    t.id = id;
    std::string scratch;
    QM_TRY(payload, decode_map(s.column_text(1, scratch)));
    t.payload = std::move(payload);
    return ok();
}

// Fills in each variable's states in state_index order with one re-bound statement.
Status load_states(Connection& conn, std::vector<VariableRecord>& variables) {
    if (variables.empty()) return ok();
    QM_TRY(stmt, conn.prepare("SELECT state, rowid FROM variable_states WHERE variable_id = ?1 ORDER BY "
                              "state_index ASC;"));
    for (VariableRecord& v : variables) {
        QM_CHECK(stmt.bind_u64(1, v.id));
        for (;;) {
            QM_TRY(row, stmt.step_row());
            if (!row) break;
            QM_CHECK(check_types(stmt, "variable_states", kStateColumns));
            v.states.push_back(stmt.column_text(0));
        }
        QM_CHECK(stmt.reset());
    }
    return ok();
}

}  // namespace

constexpr std::string_view kAllNodes = "SELECT id, external_id, labels, properties, rowid FROM nodes ORDER BY id ASC;";
constexpr std::string_view kAllEdges =
    "SELECT id, source, target, edge_type, properties, rowid FROM edges ORDER BY id ASC;";

Result<std::vector<NodeRecord>> SqliteStore::load_nodes() {
    return load_rows<NodeRecord>(conn_, kAllNodes, std::nullopt, decode_node);
}

Status SqliteStore::scan_nodes(const std::function<Status(NodeRecord&)>& f) {
    return scan_rows<NodeRecord>(conn_, kAllNodes, decode_node, f);
}

Status SqliteStore::scan_edges(const std::function<Status(EdgeRecord&)>& f) {
    return scan_rows<EdgeRecord>(conn_, kAllEdges, decode_edge, f);
}

Result<std::vector<NodeRecord>> SqliteStore::load_nodes_from(std::uint64_t first_id) {
    return load_rows<NodeRecord>(
        conn_, "SELECT id, external_id, labels, properties, rowid FROM nodes WHERE id >= ?1 ORDER BY id ASC;",
        first_id, decode_node);
}

Result<std::vector<EdgeRecord>> SqliteStore::load_edges() {
    return load_rows<EdgeRecord>(conn_, kAllEdges, std::nullopt, decode_edge);
}

Result<std::vector<EdgeRecord>> SqliteStore::load_edges_from(std::uint64_t first_id) {
    return load_rows<EdgeRecord>(
        conn_, "SELECT id, source, target, edge_type, properties, rowid FROM edges WHERE id >= ?1 ORDER BY id ASC;",
        first_id, decode_edge);
}

Result<std::vector<VariableRecord>> SqliteStore::load_variables() {
    QM_TRY(vars, load_rows<VariableRecord>(
                     conn_, "SELECT id, owner_id, domain, prior, posterior, rowid FROM variables ORDER BY id ASC;",
                     std::nullopt, decode_variable));
    QM_CHECK(load_states(conn_, vars));
    return vars;
}

Result<std::vector<VariableRecord>> SqliteStore::load_variables_from(std::uint64_t first_id) {
    QM_TRY(vars, load_rows<VariableRecord>(conn_,
                                           "SELECT id, owner_id, domain, prior, posterior, rowid FROM variables "
                                           "WHERE id >= ?1 ORDER BY id ASC;",
                                           first_id, decode_variable));
    QM_CHECK(load_states(conn_, vars));
    return vars;
}

Result<std::vector<FactorRecord>> SqliteStore::load_factors() {
    return load_rows<FactorRecord>(conn_,
                                   "SELECT id, input_variables, output_variables, function, parameters, rowid FROM "
                                   "factors ORDER BY id ASC;",
                                   std::nullopt, decode_factor);
}

Result<std::vector<FactorRecord>> SqliteStore::load_factors_from(std::uint64_t first_id) {
    return load_rows<FactorRecord>(conn_,
                                   "SELECT id, input_variables, output_variables, function, parameters, rowid FROM "
                                   "factors WHERE id >= ?1 ORDER BY id ASC;",
                                   first_id, decode_factor);
}

Result<std::vector<FactorTableRecord>> SqliteStore::load_factor_tables() {
    return load_rows<FactorTableRecord>(
        conn_, "SELECT factor_id, variables, values_text, is_cpd, rowid FROM factor_tables ORDER BY factor_id ASC;",
        std::nullopt, [](const Statement& s, FactorTableRecord& t) -> Status {
            QM_CHECK(check_types(s, "factor_tables", kTableColumns));
            QM_TRY(id, id_column(s, 0));
            t.factor_id = id;
            std::string scratch;
            QM_TRY(variables, decode_u64_list(s.column_text(1, scratch)));
            QM_TRY(values, decode_f64_list(s.column_text(2, scratch)));
            t.variables = std::move(variables);
            t.values = std::move(values);
            t.is_cpd = s.column_i64(3) != 0;
            return ok();
        });
}

Result<std::vector<std::pair<std::uint64_t, std::vector<double>>>> SqliteStore::load_posteriors() {
    using Entry = std::pair<std::uint64_t, std::vector<double>>;
    return load_rows<Entry>(
        conn_, "SELECT variable_id, values_text, rowid FROM latest_posteriors ORDER BY variable_id ASC;", std::nullopt,
        [](const Statement& s, Entry& e) -> Status {
            QM_CHECK(check_types(s, "latest_posteriors", kPosteriorColumns));
            QM_TRY(id, id_column(s, 0));
            std::string scratch;
            QM_TRY(values, decode_f64_list(s.column_text(1, scratch)));
            e.first = id;
            e.second = std::move(values);
            return ok();
        });
}

Result<std::vector<EvidenceRecord>> SqliteStore::load_evidence() {
    return load_rows<EvidenceRecord>(conn_, "SELECT id, variable_id, payload, rowid FROM evidence ORDER BY id ASC;",
                                     std::nullopt, decode_evidence);
}

Result<std::vector<EvidenceRecord>> SqliteStore::load_evidence_from(std::uint64_t first_id) {
    return load_rows<EvidenceRecord>(
        conn_, "SELECT id, variable_id, payload, rowid FROM evidence WHERE id >= ?1 ORDER BY id ASC;", first_id,
        decode_evidence);
}

Result<std::vector<TraceRecord>> SqliteStore::load_traces() {
    return load_rows<TraceRecord>(conn_, "SELECT id, payload, rowid FROM traces ORDER BY id ASC;", std::nullopt,
                                  decode_trace);
}

Result<std::vector<TraceRecord>> SqliteStore::load_traces_from(std::uint64_t first_id) {
    return load_rows<TraceRecord>(conn_, "SELECT id, payload, rowid FROM traces WHERE id >= ?1 ORDER BY id ASC;",
                                  first_id, decode_trace);
}

Result<std::vector<std::pair<std::string, std::uint64_t>>> SqliteStore::op_counts_since(std::uint64_t seq) {
    // Walks only the new rows by sequence number; a GROUP BY would let the planner scan
    // the whole log through its op index instead.
    QM_TRY(stmt, conn_.prepare("SELECT op FROM op_log WHERE seq > ?1;"));
    QM_CHECK(stmt.bind_u64(1, seq));
    std::vector<std::pair<std::string, std::uint64_t>> counts;
    std::string scratch;
    for (;;) {
        QM_TRY(row, stmt.step_row());
        if (!row) break;
        std::string_view op = stmt.column_text(0, scratch);
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == op; });
        if (it == counts.end()) counts.emplace_back(std::string(op), 1);
        else ++it->second;
    }
    return counts;
}

}  // namespace qm
