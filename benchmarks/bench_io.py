"""Interop: load_csv of a node file and an edge file (two properties per edge) into a fresh
graph, against networkx building a MultiDiGraph from the same files with the csv module;
to_networkx of the loaded graph, against networkx's read_edgelist of the same edges; and
from_networkx of a networkx graph of a fifth of the edges (no peer: ours only)."""
import atexit
import csv
import os
import shutil
import tempfile

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "io"


def endpoints(i, n):
    return i % n, (i * 7919 + 1) % n


def write_files(folder, n, m):
    nodes_csv, edges_csv, edgelist = (os.path.join(folder, f) for f in ("n.csv", "e.csv", "e.txt"))
    with open(nodes_csv, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["external_id"])
        w.writerows([f"n{i}"] for i in range(n))
    with open(edges_csv, "w", newline="") as f, open(edgelist, "w") as g:
        w = csv.writer(f)
        w.writerow(["source", "target", "edge_type", "weight:float", "label"])
        for i in range(m):
            s, t = endpoints(i, n)
            weight, label = (i % 1000) / 1000.0, f"e{i % 5000}"
            w.writerow([f"n{s}", f"n{t}", "link", weight, label])
            g.write(f"n{s} n{t} {{'weight': {weight}, 'label': '{label}'}}\n")
    return nodes_csv, edges_csv, edgelist


def prepare(peer, size):
    p = core.SIZES[size]
    m = p["csv_edges"]
    n = max(2, m // 10)
    folder = tempfile.mkdtemp(prefix="qm-bench-io-")
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    nodes_csv, edges_csv, edgelist = write_files(folder, n, m)
    ctx = {"n": n, "m": m, "nodes": nodes_csv, "edges": edges_csv, "edgelist": edgelist}
    if peer == "ours":
        import quillmere
        from quillmere import io
        g = quillmere.Graph()
        io.load_csv(g, nodes=nodes_csv, edges=edges_csv, batch_size=100_000)
        ctx["g"] = g
    return ctx


def ours_load(ctx):
    import quillmere
    from quillmere import io
    g = quillmere.Graph()
    return lambda: sorted(io.load_csv(g, nodes=ctx["nodes"], edges=ctx["edges"], batch_size=100_000).values())


def nx_load(ctx):
    import networkx as nx

    def load():
        G = nx.MultiDiGraph()
        with open(ctx["nodes"], newline="") as f:
            rows = csv.reader(f)
            next(rows)
            G.add_nodes_from(r[0] for r in rows)
        with open(ctx["edges"], newline="") as f:
            rows = csv.reader(f)
            next(rows)
            for s, t, kind, weight, label in rows:
                G.add_edge(s, t, edge_type=kind, weight=float(weight), label=label)
        return sorted([G.number_of_edges(), G.number_of_nodes()])
    return load


def ours_from_networkx(ctx):
    import networkx as nx
    from quillmere import io
    if "G" not in ctx:
        G = nx.MultiDiGraph()
        with open(ctx["edges"], newline="") as f:
            rows = csv.reader(f)
            next(rows)
            for i, (s, t, kind, weight, label) in enumerate(rows):
                if i == ctx["m"] // 5:
                    break
                G.add_edge(s, t, edge_type=kind, weight=float(weight), label=label)
        ctx["G"] = G
    return lambda: io.from_networkx(ctx["G"]).edge_count()


def ours_to_networkx(ctx):
    from quillmere import io
    return io.to_networkx(ctx["g"]).number_of_edges()


def nx_read_edgelist(ctx):
    import networkx as nx
    return nx.read_edgelist(ctx["edgelist"], create_using=nx.MultiDiGraph).number_of_edges()


COUNT = Compare("same node and edge counts")

TASKS = core.task_table(FAMILY, [
    Task("load_csv", "a node file and an edge file into a fresh graph", COUNT, {
        "ours": ("io.load_csv(g, nodes=..., edges=...)", ours_load),
        "networkx": ("csv.reader rows into MultiDiGraph.add_edge", nx_load),
    }, fresh=True, headline=True),
    Task("to_networkx", "the whole loaded graph as a networkx MultiDiGraph", Compare("same number of edges"), {
        "ours": ("io.to_networkx(g)", ours_to_networkx),
        "networkx": ("nx.read_edgelist of the same edges", nx_read_edgelist),
    }),
    Task("from_networkx", "a networkx graph of a fifth of the edges into a new graph", None, {
        "ours": ("io.from_networkx(G)", ours_from_networkx),
    }, fresh=True),
])
