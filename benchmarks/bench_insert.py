"""Batch insertion speed and resident memory per edge, beside networkx on the same data.

Each scenario runs in a fresh interpreter so freed memory of one cannot hide the cost of
the next. Run: python benchmarks/bench_insert.py [--records N] [--skip-peers]
"""
import argparse
import gc
import os
import random
import subprocess
import sys
import time


def rss_bytes():
    # Hand freed heap pages back first, so the figure is what the graph keeps, not the
    # high-water mark of the temporary buffers of the call.
    try:
        import ctypes
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except OSError:
        pass
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def make_data(kind, m, k):
    rng = random.Random(7)
    if kind == "nodes":
        return [{"external_id": f"n{i}", "labels": ["Person"],
                 "properties": {"age": rng.randrange(100), "score": rng.random()}} for i in range(m)]
    pairs = [(rng.randrange(k), rng.randrange(k)) for _ in range(m)]
    if kind == "bare":
        return [{"source": s, "target": d, "edge_type": "link"} for s, d in pairs]
    return [{"source": s, "target": d, "edge_type": "link",
             "properties": {"weight": rng.random(), "since": 1990 + rng.randrange(35)}} for s, d in pairs]


def run_scenario(name, m, k):
    if name.startswith("networkx"):
        import networkx as nx
        records = make_data("rich" if name.endswith("rich") else "bare", m, k)
        h = nx.MultiDiGraph()
        h.add_nodes_from(range(k))
        gc.collect()
        before = rss_bytes()
        t = time.perf_counter()
        h.add_edges_from((r["source"], r["target"], r.get("properties", {})) for r in records)
        elapsed = time.perf_counter() - t
    else:
        from _quillmere import Graph
        g = Graph()
        records = make_data(name, m, k)
        if name != "nodes":
            g.add_nodes([{} for _ in range(k)])
        gc.collect()
        before = rss_bytes()
        t = time.perf_counter()
        (g.add_nodes if name == "nodes" else g.add_edges)(records)
        elapsed = time.perf_counter() - t
    gc.collect()
    return elapsed, rss_bytes() - before


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=1_000_000)
    ap.add_argument("--nodes-for-edges", type=int, default=100_000)
    ap.add_argument("--skip-peers", action="store_true")
    ap.add_argument("--scenario")
    args = ap.parse_args()
    m, k = args.records, args.nodes_for_edges
    if args.scenario:
        elapsed, grown = run_scenario(args.scenario, m, k)
        print(f"{elapsed} {grown}")
        return
    scenarios = [("nodes", "add_nodes, label + two properties"),
                 ("bare", "add_edges, no properties"),
                 ("rich", "add_edges, two properties")]
    if not args.skip_peers:
        scenarios += [("networkx-bare", "networkx MultiDiGraph, no properties"),
                      ("networkx-rich", "networkx MultiDiGraph, two properties")]
    print(f"{m} records; edges among {k} nodes")
    for name, title in scenarios:
        out = subprocess.run([sys.executable, __file__, "--scenario", name, "--records", str(m),
                              "--nodes-for-edges", str(k)], capture_output=True, text=True)
        if out.returncode != 0:
            print(f"{title:<40} failed: {out.stderr.strip().splitlines()[-1:]}")
            continue
        elapsed, grown = out.stdout.split()
        elapsed, grown = float(elapsed), int(grown)
        print(f"{title:<40} {elapsed:6.2f} s  {m / elapsed / 1e6:5.2f} M records/s  "
              f"{grown / m:6.1f} resident bytes/record")


if __name__ == "__main__":
    main()
