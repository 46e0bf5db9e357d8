"""Batch insertion: nodes with a label and two properties, edges bare and with two
properties, into a fresh graph each run (the nodes the edges need are added untimed)."""
import random

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "insert"


def prepare(peer, size):
    d = core.graph_data(size)
    rng = random.Random(7)
    since = [1990 + rng.randrange(35) for _ in d.edges]
    ctx = {"d": d, "since": since}
    if peer == "ours":
        ctx["nodes"] = core.node_records(d)
        ctx["bare"] = [{"source": s, "target": t, "edge_type": "link"} for s, t in d.edges]
        ctx["rich"] = [{"source": s, "target": t, "edge_type": "link", "properties": {"weight": w, "since": y}}
                       for (s, t), w, y in zip(d.edges, d.weights, since)]
    return ctx


def node_attrs(d):
    return [{"labels": [d.labels[i]], "group": d.groups[i], "score": d.scores[i]} for i in range(d.n)]


# ---------------------------------------------------------------- ours

def ours_graph(ctx, with_nodes):
    import _quillmere
    g = _quillmere.Graph()
    if with_nodes:
        g.add_nodes([{} for _ in range(ctx["d"].n)])
    return g


def ours_nodes(ctx):
    g = ours_graph(ctx, False)
    return lambda: len(g.add_nodes(ctx["nodes"]))


def ours_edges(kind):
    def run(ctx):
        g = ours_graph(ctx, True)
        return lambda: len(g.add_edges(ctx[kind]))
    return run


# ---------------------------------------------------------------- peers

def nx_nodes(ctx):
    import networkx as nx
    d, G = ctx["d"], nx.MultiDiGraph()
    attrs = node_attrs(d)
    return lambda: (G.add_nodes_from(zip(range(d.n), attrs)), G.number_of_nodes())[1]


def nx_edges(rich):
    def run(ctx):
        import networkx as nx
        d = ctx["d"]
        G = nx.MultiDiGraph()
        G.add_nodes_from(range(d.n))
        if rich:
            data = [(s, t, {"weight": w, "since": y}) for (s, t), w, y in zip(d.edges, d.weights, ctx["since"])]
        else:
            data = d.edges
        return lambda: (G.add_edges_from(data), G.number_of_edges())[1]
    return run


def ig_nodes(ctx):
    import igraph
    d, g = ctx["d"], igraph.Graph(directed=True)
    attrs = {"name": [f"n{i}" for i in range(d.n)], "label": d.labels, "group": d.groups, "score": d.scores}
    return lambda: (g.add_vertices(d.n, attributes=attrs), g.vcount())[1]


def ig_edges(rich):
    def run(ctx):
        import igraph
        d = ctx["d"]
        g = igraph.Graph(n=d.n, directed=True)
        attrs = {"weight": d.weights, "since": ctx["since"]} if rich else None
        return lambda: (g.add_edges(d.edges, attributes=attrs), g.ecount())[1]
    return run


def rx_nodes(ctx):
    import rustworkx as rx
    g = rx.PyDiGraph()
    attrs = node_attrs(ctx["d"])
    return lambda: len(g.add_nodes_from(attrs))


def rx_edges(rich):
    def run(ctx):
        import rustworkx as rx
        d = ctx["d"]
        g = rx.PyDiGraph()
        g.add_nodes_from(range(d.n))
        if rich:
            data = [(s, t, {"weight": w, "since": y}) for (s, t), w, y in zip(d.edges, d.weights, ctx["since"])]
            return lambda: len(g.add_edges_from(data))
        return lambda: len(g.add_edges_from_no_data(d.edges))
    return run


COUNT = Compare("same number of records added")

TASKS = core.task_table(FAMILY, [
    Task("add_nodes", "all nodes, each with a label and two properties", COUNT, {
        "ours": ("g.add_nodes(records)", ours_nodes),
        "networkx": ("MultiDiGraph.add_nodes_from with attribute dicts", nx_nodes),
        "igraph": ("add_vertices with attribute lists", ig_nodes),
        "rustworkx": ("PyDiGraph.add_nodes_from with dict payloads", rx_nodes),
    }, fresh=True),
    Task("add_edges, bare", "all edges, no properties", COUNT, {
        "ours": ("g.add_edges(records)", ours_edges("bare")),
        "networkx": ("MultiDiGraph.add_edges_from", nx_edges(False)),
        "igraph": ("add_edges", ig_edges(False)),
        "rustworkx": ("add_edges_from_no_data", rx_edges(False)),
    }, fresh=True, headline=True),
    Task("add_edges, two properties", "all edges, a float and an int property each", COUNT, {
        "ours": ("g.add_edges(records)", ours_edges("rich")),
        "networkx": ("MultiDiGraph.add_edges_from with attribute dicts", nx_edges(True)),
        "igraph": ("add_edges with attribute lists", ig_edges(True)),
        "rustworkx": ("add_edges_from with dict payloads", rx_edges(True)),
    }, fresh=True, headline=True),
])
