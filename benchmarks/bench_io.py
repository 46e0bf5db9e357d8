"""Interop speed: load_csv against add_edges on already-built records (in memory and into a
file), from_networkx against networkx building the same graph from the same CSV, and
to_networkx against networkx's own read_edgelist of the same edges.

Usage: python benchmarks/bench_io.py [edge_count] [node_count]
Defaults: 1M edges for load_csv and to_networkx, a fifth of that for from_networkx.
One run each; seconds on this machine, wall clock and this process's CPU.
"""
import csv
import os
import shutil
import sys
import tempfile
import time

import networkx as nx

import quillmere
from quillmere import io

EDGES = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
NODES = int(sys.argv[2]) if len(sys.argv) > 2 else max(2, EDGES // 10)
NX_EDGES = max(1, EDGES // 5)


def timed(label, fn):
    # CPU time too: on a shared machine wall time also measures the neighbours.
    start, cpu = time.perf_counter(), time.process_time()
    result = fn()
    elapsed, cpu = time.perf_counter() - start, time.process_time() - cpu
    print(f"{label:<62} {elapsed:8.3f} s wall {cpu:8.3f} s cpu")
    return (elapsed, cpu), result


def endpoints(i):
    return i % NODES, (i * 7919 + 1) % NODES


def write_files(folder, edges):
    nodes_csv, edges_csv, edgelist = (os.path.join(folder, n) for n in ("n.csv", "e.csv", "e.txt"))
    with open(nodes_csv, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["external_id"])
        w.writerows([f"n{i}"] for i in range(NODES))
    with open(edges_csv, "w", newline="") as f, open(edgelist, "w") as g:
        w = csv.writer(f)
        w.writerow(["source", "target", "edge_type", "weight:float", "label"])
        for i in range(edges):
            s, t = endpoints(i)
            weight, label = (i % 1000) / 1000.0, f"e{i % 5000}"
            w.writerow([f"n{s}", f"n{t}", "link", weight, label])
            g.write(f"n{s} n{t} {{'weight': {weight}, 'label': '{label}'}}\n")
    return nodes_csv, edges_csv, edgelist


def prebuilt(edges):
    return [{"source": s, "target": t, "edge_type": "link",
             "properties": {"weight": (i % 1000) / 1000.0, "label": f"e{i % 5000}"}}
            for i in range(edges) for s, t in [endpoints(i)]]


def ratio(ours, theirs):
    # Wall and CPU ratios side by side: on a busy machine only the CPU one means much.
    return " ".join(f"{o / t:.2f}x {kind}" if t > 0 else f"n/a {kind}"
                    for o, t, kind in zip(ours, theirs, ("wall", "cpu")))


def main():
    folder = tempfile.mkdtemp(prefix="bench_io_")
    try:
        print(f"{EDGES} edges over {NODES} nodes; from_networkx on {NX_EDGES} edges")
        nodes_csv, edges_csv, edgelist = write_files(folder, EDGES)
        records = prebuilt(EDGES)
        node_records = [{"external_id": f"n{i}"} for i in range(NODES)]

        for where in ("memory", "file"):
            def graph(tag, where=where):
                return quillmere.Graph(os.path.join(folder, f"{tag}.db") if where == "file" else None)

            base = graph("base")
            base.add_nodes(node_records)
            t_add, _ = timed(f"add_edges, built records, {where}", lambda: base.add_edges(records))
            loaded = graph("csv")
            t_csv, counts = timed(f"load_csv nodes + edges, {where}",
                                  lambda: io.load_csv(loaded, nodes=nodes_csv, edges=edges_csv, batch_size=100_000))
            assert counts == {"nodes": NODES, "edges": EDGES} and loaded.edge_count() == base.edge_count()
            assert loaded.get_edge(EDGES - 1).properties == base.get_edge(EDGES - 1).properties
            print(f"  load_csv / add_edges: {ratio(t_csv, t_add)} (goal at most 1.5x)")
            del base, loaded

        # from_networkx against networkx building the same graph from the CSV.
        small = os.path.join(folder, "small.csv")
        with open(edges_csv) as src, open(small, "w") as dst:
            for n, line in enumerate(src):
                if n > NX_EDGES:
                    break
                dst.write(line)

        def nx_from_csv():
            G = nx.MultiDiGraph()
            with open(small, newline="") as f:
                rows = csv.reader(f)
                next(rows)
                for s, t, kind, weight, label in rows:
                    G.add_edge(s, t, edge_type=kind, weight=float(weight), label=label)
            return G

        t_nx, G = timed(f"networkx builds {NX_EDGES} edges from CSV", nx_from_csv)
        t_ours, g = timed(f"from_networkx of the same {NX_EDGES} edges", lambda: io.from_networkx(G))
        assert g.edge_count() == G.number_of_edges()
        print(f"  networkx from CSV / from_networkx: {ratio(t_nx, t_ours)} (goal at least 5x)")

        big = quillmere.Graph()
        io.load_csv(big, nodes=nodes_csv, edges=edges_csv, batch_size=100_000)
        t_to, H = timed(f"to_networkx of {EDGES} edges", lambda: io.to_networkx(big))
        t_read, R = timed(f"networkx read_edgelist of {EDGES} edges",
                          lambda: nx.read_edgelist(edgelist, create_using=nx.MultiDiGraph))
        assert H.number_of_edges() == R.number_of_edges() == EDGES
        print(f"  to_networkx / read_edgelist: {ratio(t_to, t_read)} (goal at most 1x)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
