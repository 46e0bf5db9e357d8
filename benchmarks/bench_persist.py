"""Persistence on a file: one add_edges batch of the shared graph's first file_edges edges
(two properties each), into a file holding every node, against
Python's sqlite3 writing the same rows into the same tables in one transaction; reopening
the file with and without its segment cache (sqlite3: reading the edge rows back into
adjacency lists); refreshing a stale handle; and small batches into the large file."""
import atexit
import os
import shutil
import sqlite3
import tempfile

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "persist"
SMALL_BATCH = 1_000

SCHEMA = """
    CREATE TABLE edges (id INTEGER PRIMARY KEY, source INTEGER NOT NULL, target INTEGER NOT NULL,
                        edge_type TEXT NOT NULL, properties TEXT NOT NULL);
    CREATE INDEX idx_edges_source ON edges(source);
    CREATE INDEX idx_edges_target ON edges(target);
    CREATE INDEX idx_edges_type ON edges(edge_type);
    CREATE TABLE edge_properties (edge_id INTEGER NOT NULL, key TEXT NOT NULL, value_type TEXT NOT NULL,
                                  value_text TEXT NOT NULL, PRIMARY KEY (edge_id, key));
    CREATE INDEX idx_edge_properties_key ON edge_properties(key, edge_id);
    CREATE INDEX idx_edge_properties_key_value ON edge_properties(key, value_type, value_text, edge_id);
    CREATE TABLE property_keys (scope TEXT NOT NULL, key TEXT NOT NULL, PRIMARY KEY (scope, key));
    CREATE INDEX idx_property_keys_scope ON property_keys(scope, key);
    CREATE TABLE property_values (scope TEXT NOT NULL, key TEXT NOT NULL, value_type TEXT NOT NULL,
                                  value_text TEXT NOT NULL, PRIMARY KEY (scope, key, value_type, value_text));
    CREATE INDEX idx_property_values_lookup ON property_values(scope, key, value_type, value_text);
    CREATE TABLE op_log (seq INTEGER PRIMARY KEY AUTOINCREMENT, op TEXT NOT NULL, object_id INTEGER NOT NULL,
                         payload TEXT NOT NULL, created_at INTEGER NOT NULL DEFAULT (unixepoch()));
    CREATE INDEX idx_op_log_op ON op_log(op);
"""


def file_data(size):
    """The shared graph's nodes and its first file_edges edges."""
    d = core.graph_data(size)
    m = core.SIZES[size]["file_edges"]
    return core.GraphData(d.n, d.edges[:m], d.weights[:m], d.labels, d.groups, d.scores, d.starts, d.sources,
                          d.goals)


def label(i):
    return f"e{i % 5000}"


def prepare(peer, size):
    d = file_data(size)
    ctx = {"d": d, "dir": tempfile.mkdtemp(prefix="qm-bench-persist-"), "runs": 0}
    atexit.register(shutil.rmtree, ctx["dir"], ignore_errors=True)
    if peer == "ours":
        ctx["records"] = [{"source": s, "target": t, "edge_type": "link",
                           "properties": {"weight": w, "label": label(i)}}
                          for i, ((s, t), w) in enumerate(zip(d.edges, d.weights))]
        ctx["path"] = os.path.join(ctx["dir"], "big.db")
        g = ours_with_nodes(ctx, ctx["path"])
        for lo in range(0, len(d.edges), core.BATCH):
            g.add_edges(ctx["records"][lo:lo + core.BATCH])
        g.compact()
        extra = d.edges[:2 * SMALL_BATCH]
        ctx["extra"] = [{"source": t, "target": s, "edge_type": "more"} for s, t in extra]
    else:
        ctx["rows"] = sqlite_rows(d)
        ctx["path"] = os.path.join(ctx["dir"], "big.db")
        sqlite_write(ctx["path"], ctx["rows"])()
    return ctx


def fresh_path(ctx, name):
    # One file per run, and the previous run's removed, so large runs do not fill the disk.
    for f in os.listdir(ctx["dir"]):
        if f.startswith(name):
            p = os.path.join(ctx["dir"], f)
            shutil.rmtree(p) if os.path.isdir(p) else os.remove(p)
    ctx["runs"] += 1
    return os.path.join(ctx["dir"], f"{name}{ctx['runs']}.db")


# ---------------------------------------------------------------- ours

def ours_with_nodes(ctx, path):
    import _quillmere
    g = _quillmere.Graph(path)
    n = ctx["d"].n
    for lo in range(0, n, core.BATCH):
        g.add_nodes([{"external_id": f"n{i}"} for i in range(lo, min(n, lo + core.BATCH))])
    return g


def ours_write(ctx):
    g = ours_with_nodes(ctx, fresh_path(ctx, "write"))
    return lambda: len(g.add_edges(ctx["records"]))


def ours_reopen(cached):
    def run(ctx):
        import _quillmere
        if not cached:
            shutil.rmtree(ctx["path"] + ".segments", ignore_errors=True)
        return lambda: _quillmere.Graph(ctx["path"]).edge_count()
    return run


def ours_refresh(ctx):
    import _quillmere
    stale, writer = _quillmere.Graph(ctx["path"]), _quillmere.Graph(ctx["path"])
    writer.add_node()
    return lambda: (stale.refresh(), stale.node_count())[1]


def ours_small_batch(ctx):
    import _quillmere
    g = _quillmere.Graph(ctx["path"])
    g.compact()
    batch = ctx["extra"][:SMALL_BATCH]
    return lambda: len(g.add_edges(batch))


def ours_compact(ctx):
    import _quillmere
    g = _quillmere.Graph(ctx["path"])
    g.compact()
    g.add_edges(ctx["extra"][SMALL_BATCH:])
    return lambda: (g.compact(), g.edge_count())[1]


# ---------------------------------------------------------------- sqlite3

def fmt_float(x):
    r = repr(x)
    return r[:-2] if r.endswith(".0") else r


def sqlite_rows(d):
    edges, props, keys, values, log = [], [], [], [], []
    for i, ((s, t), w) in enumerate(zip(d.edges, d.weights)):
        w, lab = fmt_float(w), label(i)
        edges.append((i, s, t, "link", f"label\tstring\t{lab}\nweight\tfloat\t{w}"))
        props += [(i, "label", "string", lab), (i, "weight", "float", w)]
        keys += [("edge", "label"), ("edge", "weight")]
        values += [("edge", "label", "string", lab), ("edge", "weight", "float", w)]
        log.append(("add_edge", i, "link"))
    return edges, props, keys, values, log


def sqlite_write(path, rows):
    edges, props, keys, values, log = rows
    conn = sqlite3.connect(path, isolation_level=None)
    conn.execute("PRAGMA journal_mode = WAL")
    conn.execute("PRAGMA synchronous = FULL")
    conn.executescript(SCHEMA)

    def write():
        conn.execute("BEGIN IMMEDIATE")
        conn.executemany("INSERT INTO edges (id, source, target, edge_type, properties) VALUES (?1, ?2, ?3, ?4, ?5)",
                         edges)
        conn.executemany("INSERT OR REPLACE INTO edge_properties (edge_id, key, value_type, value_text) "
                         "VALUES (?1, ?2, ?3, ?4)", props)
        conn.executemany("INSERT OR IGNORE INTO property_keys (scope, key) VALUES (?1, ?2)", keys)
        conn.executemany("INSERT OR IGNORE INTO property_values (scope, key, value_type, value_text) "
                         "VALUES (?1, ?2, ?3, ?4)", values)
        conn.executemany("INSERT INTO op_log (op, object_id, payload) VALUES (?1, ?2, ?3)", log)
        conn.execute("COMMIT")
        count = conn.execute("SELECT count(*) FROM edges").fetchone()[0]
        conn.close()
        return count
    return write


def sqlite_read(ctx):
    def read():
        conn = sqlite3.connect(ctx["path"])
        succ = [[] for _ in range(ctx["d"].n)]
        count = 0
        for _, s, t, _, _ in conn.execute("SELECT id, source, target, edge_type, properties FROM edges ORDER BY id"):
            succ[s].append(t)
            count += 1
        conn.close()
        return count
    return read


COUNT = Compare("same number of edges")

TASKS = core.task_table(FAMILY, [
    Task("add_edges to a file", "every edge with two properties, one batch, into a file holding the nodes", COUNT, {
        "ours": ("g.add_edges(records) on Graph(path)", ours_write),
        "python": ("sqlite3 executemany of the same rows, one transaction",
                   lambda c: sqlite_write(fresh_path(c, "write"), c["rows"])),
    }, fresh=True, headline=True),
    Task("reopen, cached segment", "open the file: every node and edge into memory", COUNT, {
        "ours": ("Graph(path)", ours_reopen(True)),
    }, fresh=True),
    Task("reopen, no cache", "open the file with its segment cache removed", COUNT, {
        "ours": ("Graph(path), the cache rebuilt", ours_reopen(False)),
        "python": ("sqlite3: every edge row into adjacency lists", sqlite_read),
    }, fresh=True, headline=True),
    Task("refresh", "refresh a stale handle after another handle added one node", None, {
        "ours": ("stale.refresh()", ours_refresh),
    }, fresh=True),
    Task(f"add_edges, {SMALL_BATCH:,}", f"one batch of {SMALL_BATCH:,} edges into the large compacted file", None, {
        "ours": ("g.add_edges(batch)", ours_small_batch),
    }, fresh=True),
    Task("compact", f"compact() of {SMALL_BATCH:,} new edges over the compacted rest, cache file included", None, {
        "ours": ("g.compact()", ours_compact),
    }, fresh=True),
])
