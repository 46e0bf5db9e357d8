"""Persistence speed: a 1M-edge batch write against plain sqlite3 writing the same rows,
reopening a 1M-edge file with and without its segment cache, and refreshing a stale handle.

Usage: python benchmarks/bench_persist.py [edge_count] [node_count]
One run each; figures are seconds on this machine, wall clock and this process's CPU.
"""
import os
import shutil
import sqlite3
import sys
import tempfile
import time

import _quillmere as q

EDGES = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
NODES = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000


def timed(label, fn):
    # CPU time too: on a shared machine wall time also measures the neighbours.
    start, cpu = time.perf_counter(), time.process_time()
    result = fn()
    elapsed, cpu = time.perf_counter() - start, time.process_time() - cpu
    print(f"{label:<58} {elapsed:8.3f} s wall {cpu:8.3f} s cpu")
    return elapsed, result


def edge_records():
    return [{"source": i % NODES, "target": (i * 7919 + 1) % NODES, "edge_type": "link",
             "properties": {"weight": (i % 1000) / 1000.0, "label": f"e{i % 5000}"}}
            for i in range(EDGES)]


def fmt_float(x):
    r = repr(x)
    return r[:-2] if r.endswith(".0") else r


def sqlite_rows():
    edges, props, keys, values, log = [], [], [], [], []
    for i in range(EDGES):
        s, t = i % NODES, (i * 7919 + 1) % NODES
        w, lab = fmt_float((i % 1000) / 1000.0), f"e{i % 5000}"
        edges.append((i, s, t, "link", f"label\tstring\t{lab}\nweight\tfloat\t{w}"))
        props.append((i, "label", "string", lab))
        props.append((i, "weight", "float", w))
        keys.append(("edge", "label"))
        keys.append(("edge", "weight"))
        values.append(("edge", "label", "string", lab))
        values.append(("edge", "weight", "float", w))
        log.append(("add_edge", i, "link"))
    return edges, props, keys, values, log


def peer_write(path, data):
    edges, props, keys, values, log = data
    conn = sqlite3.connect(path, isolation_level=None)
    conn.execute("PRAGMA journal_mode = WAL")
    conn.execute("PRAGMA synchronous = FULL")
    conn.executescript("""
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
    """)

    def write():
        conn.execute("BEGIN IMMEDIATE")
        conn.executemany("INSERT INTO edges (id, source, target, edge_type, properties) VALUES (?1, ?2, ?3, ?4, ?5)", edges)
        conn.executemany("INSERT OR REPLACE INTO edge_properties (edge_id, key, value_type, value_text) VALUES (?1, ?2, ?3, ?4)", props)
        conn.executemany("INSERT OR IGNORE INTO property_keys (scope, key) VALUES (?1, ?2)", keys)
        conn.executemany("INSERT OR IGNORE INTO property_values (scope, key, value_type, value_text) VALUES (?1, ?2, ?3, ?4)", values)
        conn.executemany("INSERT INTO op_log (op, object_id, payload) VALUES (?1, ?2, ?3)", log)
        conn.execute("COMMIT")

    elapsed, _ = timed(f"sqlite3.executemany, same {EDGES:,} edges' rows", write)
    conn.close()
    return elapsed


def main():
    work = tempfile.mkdtemp(prefix="qm-bench-")
    try:
        path = os.path.join(work, "g.db")
        g = q.Graph(path)
        g.add_nodes([{"external_id": f"n{i}"} for i in range(NODES)])
        records = edge_records()
        ours, _ = timed(f"add_edges of {EDGES:,} edges with two properties", lambda: g.add_edges(records))
        del records
        peer = peer_write(os.path.join(work, "peer.db"), sqlite_rows())
        print(f"{'  ratio ours / sqlite3':<58} {ours / peer:8.2f} x")
        del g

        timed(f"reopen {EDGES:,}-edge file with the segment cache", lambda: q.Graph(path))
        shutil.rmtree(path + ".segments")
        timed(f"reopen {EDGES:,}-edge file without the segment cache", lambda: q.Graph(path))

        stale, writer = q.Graph(path), q.Graph(path)
        writer.add_node("one-more")
        timed("refresh of a stale handle after one node was added", stale.refresh)
        assert stale.node_count() == NODES + 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
