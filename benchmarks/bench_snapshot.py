"""Snapshots, compaction and small batches into a large file.

A seeded directed graph (default 100K nodes, 1M edges; the argument sets the edge count, with
one node per ten edges), then:
  snapshot   time and resident-memory growth of snapshot(), with every edge still in the
             per-node delta lists and again after compact(); the peers' only way to keep a
             moment of a graph is a copy (networkx: G.copy(), igraph: g.copy())
  reads      k_hop (2 hops out from 100 starts), pagerank and nodes_with_label on a
             snapshot against the same reads on the live graph
  file       on a file holding the graph: compact() of 1,000 new edges over the compacted
             rest (the cache file included), and one add_edges batch of 1,000 edges
Each line gives wall and CPU time; answers on a snapshot are checked against the live graph.

Run: PYTHONPATH=build/dev python benchmarks/bench_snapshot.py [edges]
Needs (peers, optional): pip install networkx igraph psutil
"""

import gc
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

import _quillmere

try:
    import psutil
except ImportError:  # pragma: no cover - a script, not a test
    psutil = None
try:
    import networkx as nx
except ImportError:  # pragma: no cover
    nx = None
try:
    import igraph
except ImportError:  # pragma: no cover
    igraph = None

SEED = 20240601
N_STARTS = 100
BATCH = 100_000


def rss():
    if psutil:
        return psutil.Process().memory_info().rss
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def timed(fn, repeat=1):
    """Median wall and CPU seconds of fn over repeat runs, and its last result."""
    walls, cpus, result = [], [], None
    for _ in range(repeat):
        gc.collect()
        w, c = time.perf_counter(), time.process_time()
        result = fn()
        walls.append(time.perf_counter() - w)
        cpus.append(time.process_time() - c)
    return statistics.median(walls), statistics.median(cpus), result


def show(name, wall, cpu, note=""):
    print(f"{name:<44} wall {wall * 1e3:10.3f} ms   cpu {cpu * 1e3:10.3f} ms   {note}")


def make_data(n_nodes, n_edges):
    rng = random.Random(SEED)
    pairs = set()
    while len(pairs) < n_edges:
        s, t = rng.randrange(n_nodes), rng.randrange(n_nodes)
        if s != t:
            pairs.add((s, t))
    edges = sorted(pairs, key=lambda p: (rng.random(), p))
    starts = rng.sample(range(n_nodes), min(N_STARTS, n_nodes))
    extra = [(rng.randrange(n_nodes), rng.randrange(n_nodes)) for _ in range(2000)]
    return edges, starts, extra


def fill(g, n_nodes, edges):
    for i in range(0, n_nodes, BATCH):
        g.add_nodes([{"labels": ["A"] if j % 2 else []} for j in range(i, min(n_nodes, i + BATCH))])
    for i in range(0, len(edges), BATCH):
        g.add_edges([{"source": s, "target": t, "edge_type": "R"} for s, t in edges[i:i + BATCH]])


def snapshot_cost(g, label):
    keep = []
    before = rss()
    wall, cpu, _ = timed(lambda: keep.append(g.snapshot()), repeat=20)
    grown = (rss() - before) / len(keep)
    show(f"snapshot() {label}", wall, cpu, f"{grown / 1024:.1f} KiB resident per snapshot")
    return keep[-1]


def reads(g, s, starts):
    checks = [
        ("k_hop 2 hops x starts", lambda h: [h.k_hop(v, 2) for v in starts]),
        ("pagerank", lambda h: h.pagerank()),
        ("nodes_with_label", lambda h: h.nodes_with_label("A")),
    ]
    for name, read in checks:
        lw, lc, live = timed(lambda: read(g), repeat=3)
        sw, sc, snap = timed(lambda: read(s), repeat=3)
        assert live == snap, name
        show(f"{name} live", lw, lc)
        show(f"{name} snapshot", sw, sc, f"{sw / lw:.3f}x live")


def peers(n_nodes, edges):
    if nx:
        G = nx.DiGraph()
        G.add_nodes_from(range(n_nodes))
        G.add_edges_from(edges)
        before = rss()
        wall, cpu, copy = timed(G.copy)
        show("networkx G.copy()", wall, cpu, f"{(rss() - before) / 2**20:.1f} MiB resident")
        del G, copy
    if igraph:
        ig = igraph.Graph(n=n_nodes, edges=edges, directed=True)
        before = rss()
        wall, cpu, copy = timed(ig.copy)
        show("igraph g.copy()", wall, cpu, f"{(rss() - before) / 2**20:.1f} MiB resident")
        del ig, copy
    gc.collect()


def on_file(n_nodes, edges, extra):
    folder = tempfile.mkdtemp(prefix="qm-bench-snapshot-")
    try:
        g = _quillmere.Graph(os.path.join(folder, "g.db"))
        fill(g, n_nodes, edges)
        g.compact()
        g.add_edges([{"source": s, "target": t, "edge_type": "R"} for s, t in extra[:1000]])
        wall, cpu, _ = timed(g.compact)
        show("file: compact() of 1,000 new edges", wall, cpu, f"over {len(edges):,} compacted")
        batch = [{"source": s, "target": t, "edge_type": "R"} for s, t in extra[1000:]]
        wall, cpu, _ = timed(lambda: g.add_edges(batch))
        show("file: add_edges of 1,000 edges", wall, cpu)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    n_edges = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    n_nodes = max(10, n_edges // 10)
    print(f"{n_nodes:,} nodes, {n_edges:,} edges")
    edges, starts, extra = make_data(n_nodes, n_edges)
    g = _quillmere.Graph()
    w, c, _ = timed(lambda: fill(g, n_nodes, edges))
    show("build in memory", w, c)
    snapshot_cost(g, "(all edges in delta lists)")
    g.compact()
    s = snapshot_cost(g, "(after compact)")
    reads(g, s, starts)
    # A snapshot keeps answering while the live graph grows and compacts under it.
    g.add_edges([{"source": a, "target": b, "edge_type": "R"} for a, b in extra])
    g.compact()
    assert s.edge_count() == n_edges and g.edge_count() == n_edges + len(extra)
    peers(n_nodes, edges)
    on_file(n_nodes, edges, extra)


if __name__ == "__main__":
    main()
