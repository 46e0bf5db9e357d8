// Opening a store: the connection, the schema, the storage-format row and the catalog
// backfill, plus the operations that are not plain row writes or loads.
#include "sqlite/sqlite_store.hpp"

#include <sqlite3.h>

#include <filesystem>
#include <iterator>
#include <system_error>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/messages.hpp"
#include "sqlite/segment_cache.hpp"
#include "sqlite/sqlite_store_impl.hpp"

namespace qm {

namespace {

constexpr const char* kSchema = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = FULL;
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS metadata (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS nodes (id INTEGER PRIMARY KEY, external_id TEXT NOT NULL UNIQUE, labels TEXT NOT NULL, properties TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS node_properties (node_id INTEGER NOT NULL, key TEXT NOT NULL, value_type TEXT NOT NULL, value_text TEXT NOT NULL, PRIMARY KEY (node_id, key));
CREATE TABLE IF NOT EXISTS edges (id INTEGER PRIMARY KEY, source INTEGER NOT NULL, target INTEGER NOT NULL, edge_type TEXT NOT NULL, properties TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS edge_properties (edge_id INTEGER NOT NULL, key TEXT NOT NULL, value_type TEXT NOT NULL, value_text TEXT NOT NULL, PRIMARY KEY (edge_id, key));
CREATE TABLE IF NOT EXISTS property_keys (scope TEXT NOT NULL, key TEXT NOT NULL, PRIMARY KEY (scope, key));
CREATE TABLE IF NOT EXISTS property_values (scope TEXT NOT NULL, key TEXT NOT NULL, value_type TEXT NOT NULL, value_text TEXT NOT NULL, PRIMARY KEY (scope, key, value_type, value_text));
CREATE TABLE IF NOT EXISTS op_log (seq INTEGER PRIMARY KEY AUTOINCREMENT, op TEXT NOT NULL, object_id INTEGER NOT NULL, payload TEXT NOT NULL, created_at INTEGER NOT NULL DEFAULT (unixepoch()));
CREATE TABLE IF NOT EXISTS variables (id INTEGER PRIMARY KEY, owner_id INTEGER, domain TEXT NOT NULL, prior TEXT NOT NULL, posterior TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS variable_states (variable_id INTEGER NOT NULL, state_index INTEGER NOT NULL, state TEXT NOT NULL, PRIMARY KEY (variable_id, state_index));
CREATE TABLE IF NOT EXISTS factors (id INTEGER PRIMARY KEY, input_variables TEXT NOT NULL, output_variables TEXT NOT NULL, function TEXT NOT NULL, parameters TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS factor_tables (factor_id INTEGER PRIMARY KEY, variables TEXT NOT NULL, values_text TEXT NOT NULL, is_cpd INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS latest_posteriors (variable_id INTEGER PRIMARY KEY, values_text TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS evidence (id INTEGER PRIMARY KEY, variable_id INTEGER NOT NULL, payload TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS traces (id INTEGER PRIMARY KEY, payload TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS idx_nodes_external_id ON nodes(external_id);
CREATE INDEX IF NOT EXISTS idx_node_properties_key ON node_properties(key, node_id);
CREATE INDEX IF NOT EXISTS idx_node_properties_key_value ON node_properties(key, value_type, value_text, node_id);
CREATE INDEX IF NOT EXISTS idx_edges_source ON edges(source);
CREATE INDEX IF NOT EXISTS idx_edges_target ON edges(target);
CREATE INDEX IF NOT EXISTS idx_edges_type ON edges(edge_type);
CREATE INDEX IF NOT EXISTS idx_edge_properties_key ON edge_properties(key, edge_id);
CREATE INDEX IF NOT EXISTS idx_edge_properties_key_value ON edge_properties(key, value_type, value_text, edge_id);
CREATE INDEX IF NOT EXISTS idx_property_keys_scope ON property_keys(scope, key);
CREATE INDEX IF NOT EXISTS idx_property_values_lookup ON property_values(scope, key, value_type, value_text);
CREATE INDEX IF NOT EXISTS idx_variables_owner ON variables(owner_id);
CREATE INDEX IF NOT EXISTS idx_variable_states_variable ON variable_states(variable_id, state_index);
CREATE INDEX IF NOT EXISTS idx_evidence_variable ON evidence(variable_id);
CREATE INDEX IF NOT EXISTS idx_op_log_op ON op_log(op);
)sql";

// Makes a catalog complete for databases whose property rows were written without it.
// GROUP BY rather than DISTINCT: it walks the covering indexes in order instead of
// sorting every property row into a temporary tree, which dominated opening large files.
constexpr const char* kCatalogBackfill = R"sql(
INSERT OR IGNORE INTO property_keys (scope, key) SELECT 'node', key FROM node_properties GROUP BY key;
INSERT OR IGNORE INTO property_values (scope, key, value_type, value_text) SELECT 'node', key, value_type, value_text FROM node_properties GROUP BY key, value_type, value_text;
INSERT OR IGNORE INTO property_keys (scope, key) SELECT 'edge', key FROM edge_properties GROUP BY key;
INSERT OR IGNORE INTO property_values (scope, key, value_type, value_text) SELECT 'edge', key, value_type, value_text FROM edge_properties GROUP BY key, value_type, value_text;
)sql";

// One row for the first property row the catalog lacks, if any.
constexpr const char* kCatalogGaps[] = {
    "SELECT 1 FROM (SELECT key FROM node_properties GROUP BY key) p WHERE NOT EXISTS (SELECT 1 FROM "
    "property_keys c WHERE c.scope = 'node' AND c.key = p.key) LIMIT 1;",
    "SELECT 1 FROM (SELECT key, value_type, value_text FROM node_properties GROUP BY key, value_type, "
    "value_text) p WHERE NOT EXISTS (SELECT 1 FROM property_values c WHERE c.scope = 'node' AND c.key = "
    "p.key AND c.value_type = p.value_type AND c.value_text = p.value_text) LIMIT 1;",
    "SELECT 1 FROM (SELECT key FROM edge_properties GROUP BY key) p WHERE NOT EXISTS (SELECT 1 FROM "
    "property_keys c WHERE c.scope = 'edge' AND c.key = p.key) LIMIT 1;",
    "SELECT 1 FROM (SELECT key, value_type, value_text FROM edge_properties GROUP BY key, value_type, "
    "value_text) p WHERE NOT EXISTS (SELECT 1 FROM property_values c WHERE c.scope = 'edge' AND c.key = "
    "p.key AND c.value_type = p.value_type AND c.value_text = p.value_text) LIMIT 1;",
};

constexpr const char* kStorageFormat = "quillmere-sqlite-v1";

// Opening must not need the write lock when there is nothing to write: another handle may
// hold it for a long batch, and the busy time-out would then fail the open. So the format
// row and the catalog are read first and written only when they differ.
Result<bool> storage_format_current(Connection& conn) {
    QM_TRY(stmt, conn.prepare("SELECT value FROM metadata WHERE key = 'storage_format';"));
    QM_TRY(row, stmt.step_row());
    return row && stmt.column_text(0) == kStorageFormat;
}

// Property tables repeat few distinct keys and values over many rows, so the distinct
// ones are visited by seeking from each to the next along the covering index, checking
// each against the catalog. Past kMaxSeeks distinct rows, one ordered pass is cheaper.
constexpr int kMaxSeeks = 2000;

struct CatalogWalk {
    std::string_view scope;
    std::string_view first;  // the first distinct row of the index
    std::string_view next;   // the next distinct row after ?1.. in index order
    std::string_view probe;  // whether the catalog has it (?1 scope, then the columns)
    int columns;
    std::string_view rows;     // every property row in index order
    std::string_view catalog;  // the scope's catalog rows (?1 scope) in the same order
};

constexpr CatalogWalk kCatalogWalks[] = {
    {"node", "SELECT key FROM node_properties ORDER BY key LIMIT 1;",
     "SELECT key FROM node_properties WHERE key > ?1 ORDER BY key LIMIT 1;",
     "SELECT 1 FROM property_keys WHERE scope = ?1 AND key = ?2;", 1,
     "SELECT key FROM node_properties ORDER BY key;",
     "SELECT key FROM property_keys WHERE scope = ?1 ORDER BY key;"},
    {"node",
     "SELECT key, value_type, value_text FROM node_properties ORDER BY key, value_type, value_text LIMIT 1;",
     "SELECT key, value_type, value_text FROM node_properties WHERE (key, value_type, value_text) > (?1, ?2, "
     "?3) ORDER BY key, value_type, value_text LIMIT 1;",
     "SELECT 1 FROM property_values WHERE scope = ?1 AND key = ?2 AND value_type = ?3 AND value_text = ?4;", 3,
     "SELECT key, value_type, value_text FROM node_properties ORDER BY key, value_type, value_text;",
     "SELECT key, value_type, value_text FROM property_values WHERE scope = ?1 ORDER BY key, value_type, "
     "value_text;"},
    {"edge", "SELECT key FROM edge_properties ORDER BY key LIMIT 1;",
     "SELECT key FROM edge_properties WHERE key > ?1 ORDER BY key LIMIT 1;",
     "SELECT 1 FROM property_keys WHERE scope = ?1 AND key = ?2;", 1,
     "SELECT key FROM edge_properties ORDER BY key;",
     "SELECT key FROM property_keys WHERE scope = ?1 ORDER BY key;"},
    {"edge",
     "SELECT key, value_type, value_text FROM edge_properties ORDER BY key, value_type, value_text LIMIT 1;",
     "SELECT key, value_type, value_text FROM edge_properties WHERE (key, value_type, value_text) > (?1, ?2, "
     "?3) ORDER BY key, value_type, value_text LIMIT 1;",
     "SELECT 1 FROM property_values WHERE scope = ?1 AND key = ?2 AND value_type = ?3 AND value_text = ?4;", 3,
     "SELECT key, value_type, value_text FROM edge_properties ORDER BY key, value_type, value_text;",
     "SELECT key, value_type, value_text FROM property_values WHERE scope = ?1 ORDER BY key, value_type, "
     "value_text;"},
};

// Reads the current row's columns; false when one is not text, whose order against
// text this comparison does not share with SQLite.
bool read_text_row(const Statement& stmt, std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size(); ++i) {
        int column = static_cast<int>(i);
        if (stmt.column_type(column) != Statement::Type::Text) return false;
        row[i].assign(stmt.column_bytes(column));  // reuses the buffer of the last row
    }
    return true;
}

// True or false when the walk decided; none when it gave up for the scan.
Result<std::optional<bool>> walk_catalog(Connection& conn, const CatalogWalk& walk) {
    QM_TRY(first, conn.prepare(walk.first));
    QM_TRY(next, conn.prepare(walk.next));
    QM_TRY(probe, conn.prepare(walk.probe));
    std::vector<std::string> row(static_cast<std::size_t>(walk.columns));
    QM_TRY(found, first.step_row());
    Statement* current = &first;
    for (int seeks = 0; found; ++seeks) {
        if (seeks == kMaxSeeks) return std::optional<bool>();
        // The walk binds what it read, so it needs the exact stored text and one that can
        // be bound; anything else is left to the ordered pass.
        if (!read_text_row(*current, row)) return std::optional<bool>();
        for (const std::string& value : row)
            if (value.find('\0') != std::string::npos) return std::optional<bool>();
        QM_CHECK(probe.bind_text(1, walk.scope));
        for (int i = 0; i < walk.columns; ++i) QM_CHECK(probe.bind_text(i + 2, row[static_cast<std::size_t>(i)]));
        QM_TRY(present, probe.step_row());
        QM_CHECK(probe.reset());
        if (!present) return std::optional<bool>(false);
        QM_CHECK(next.reset());
        for (int i = 0; i < walk.columns; ++i) QM_CHECK(next.bind_text(i + 1, row[static_cast<std::size_t>(i)]));
        QM_TRY(more, next.step_row());
        found = more;
        current = &next;
    }
    return std::optional<bool>(true);
}

// Many distinct values: both sides are read once in index order and met like a merge,
// where a probe per distinct row would seek the catalog index each time. Text compares
// here as SQLite's binary collation does, and only an exact match counts as present, so a
// wrong verdict can only be "incomplete", which the backfill then settles.
Result<std::optional<bool>> merge_catalog(Connection& conn, const CatalogWalk& walk) {
    QM_TRY(rows, conn.prepare(walk.rows));
    QM_TRY(catalog, conn.prepare(walk.catalog));
    QM_CHECK(catalog.bind_text(1, walk.scope));
    const auto width = static_cast<std::size_t>(walk.columns);
    std::vector<std::string> row(width), previous(width), listed(width);
    bool have_previous = false, have_listed = false;
    for (;;) {
        QM_TRY(found, rows.step_row());
        if (!found) return std::optional<bool>(true);
        if (!read_text_row(rows, row)) return std::optional<bool>();
        if (have_previous && row == previous) continue;
        while (!have_listed || listed < row) {
            QM_TRY(more, catalog.step_row());
            if (!more) return std::optional<bool>(false);
            if (!read_text_row(catalog, listed)) return std::optional<bool>();
            have_listed = true;
        }
        if (listed != row) return std::optional<bool>(false);
        std::swap(previous, row);
        have_previous = true;
    }
}

Result<bool> catalog_complete(Connection& conn) {
    for (std::size_t i = 0; i < std::size(kCatalogWalks); ++i) {
        QM_TRY(walked, walk_catalog(conn, kCatalogWalks[i]));
        if (walked && !*walked) return false;
        if (walked) continue;
        QM_TRY(merged, merge_catalog(conn, kCatalogWalks[i]));
        if (merged && !*merged) return false;
        if (merged) continue;
        QM_TRY(stmt, conn.prepare(kCatalogGaps[i]));
        QM_TRY(row, stmt.step_row());
        if (row) return false;
    }
    return true;
}

Status write_storage_format(Connection& conn) {
    QM_TRY(stmt, conn.prepare("INSERT INTO metadata (key, value) VALUES (?1, ?2) ON CONFLICT(key) DO "
                              "UPDATE SET value = excluded.value;"));
    QM_CHECK(stmt.bind_text(1, "storage_format"));
    QM_CHECK(stmt.bind_text(2, kStorageFormat));
    return stmt.step_done();
}

// A handle's data must live in one file that other handles can open and refresh can
// reopen, with the segment cache beside it. SQLite gives these names other meanings: a
// private temporary database, a database in memory, or a URI whose query may make it
// read-only or in-memory. None is shared and each would leave a cache directory in the
// working directory, so they are refused rather than half supported.
Status check_names_a_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) return ok();  // refused as such when opened
    if (path.empty() || path == ":memory:" || path.starts_with("file:"))
        return fail(msg::not_a_database_file(path));
    return ok();
}

// A relative path is pinned to the working directory at open: a later refresh must reopen
// the same file, and compaction must write the cache beside it, even after the process
// changed directory. Without a working directory, or with one whose name is not text
// (the path is handed on as text), the path is kept as given.
std::string anchored_path(const std::string& path) {
    if (path.starts_with('/')) return path;
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec || cwd.empty()) return path;
    std::string anchored = cwd.string();
    if (lossy_utf8(anchored) != anchored) return path;
    if (!anchored.ends_with('/')) anchored.push_back('/');
    return anchored + path;
}

}  // namespace

Result<std::unique_ptr<GraphStore>> open_sqlite_store(const std::string& path) {
    QM_TRY(store, SqliteStore::open(path));
    return std::unique_ptr<GraphStore>(std::move(store));
}

Result<std::unique_ptr<SqliteStore>> SqliteStore::open(const std::string& path) {
    QM_CHECK(check_names_a_file(path));
    QM_TRY(conn, Connection::open(path));
    QM_CHECK(conn.exec(kSchema));
    QM_TRY(format_current, storage_format_current(conn));
    if (!format_current) QM_CHECK(write_storage_format(conn));
    QM_TRY(complete, catalog_complete(conn));
    if (!complete) QM_CHECK(conn.exec(kCatalogBackfill));
    return std::unique_ptr<SqliteStore>(new SqliteStore(anchored_path(path), std::move(conn)));
}

std::string SqliteStore::path() const { return lossy_utf8(path_); }

Result<std::unique_ptr<GraphStore>> SqliteStore::reopen() const { return open_sqlite_store(path()); }

Result<std::uint64_t> SqliteStore::read_op_seq() {
    QM_TRY(stmt, conn_.prepare("SELECT COALESCE(MAX(seq), 0) FROM op_log;"));
    QM_TRY(row, stmt.step_row());
    if (!row) return std::uint64_t{0};
    std::int64_t v = stmt.column_i64(0);
    if (v < 0) return fail(msg::negative_sqlite_integer(v));
    return static_cast<std::uint64_t>(v);
}

Result<std::uint64_t> SqliteStore::current_op_seq() { return read_op_seq(); }

Status SqliteStore::begin_read() { return conn_.exec("BEGIN;"); }

void SqliteStore::end_read() {
    // A read transaction left open would pin this handle to an old state of the file.
    if (!conn_.exec("COMMIT;") && !sqlite3_get_autocommit(conn_.handle())) (void)conn_.exec("ROLLBACK;");
}

std::optional<ComputeSegment> SqliteStore::load_segment(std::uint64_t node_count,
                                                        std::uint64_t edge_count) {
    return load_segment_files(path(), node_count, edge_count);
}

Status SqliteStore::save_segment(const ComputeSegment& segment, std::uint64_t node_count,
                                 std::uint64_t edge_count) {
    return save_segment_files(path(), segment, node_count, edge_count);
}

}  // namespace qm
