"""Resident memory per edge, one kind per fresh process (the parent starts one for each), so
pages freed by one build cannot hide the cost of the next.

The nodes and the input lists exist before the first reading: the delta is what adding the
edges keeps.
"""
import gc

from benchmarks import core

KINDS = {
    "ours": "ours, no properties",
    "ours+props": "ours, a float property per edge",
    "networkx": "networkx DiGraph, no attributes",
    "igraph": "igraph Graph, no attributes",
    "rustworkx": "rustworkx PyDiGraph, no payload",
}
PEER_OF = {"ours": "ours", "ours+props": "ours", "networkx": "networkx", "igraph": "igraph",
           "rustworkx": "rustworkx"}


def measure(kind, size):
    d = core.graph_data(size)
    n, edges = d.n, d.edges
    if kind.startswith("ours"):
        import _quillmere
        g = _quillmere.Graph()
        g.add_nodes([{} for _ in range(n)])
        if kind == "ours+props":
            batches = [[{"source": s, "target": t, "edge_type": "link", "properties": {"weight": w}}
                        for (s, t), w in zip(edges[lo:lo + core.BATCH], d.weights[lo:lo + core.BATCH])]
                       for lo in range(0, len(edges), core.BATCH)]
        else:
            batches = [[{"source": s, "target": t, "edge_type": "link"} for s, t in edges[lo:lo + core.BATCH]]
                       for lo in range(0, len(edges), core.BATCH)]

        def build():
            for b in batches:
                g.add_edges(b)
            g.compact()
    elif kind == "networkx":
        import networkx as nx
        g = nx.DiGraph()
        g.add_nodes_from(range(n))

        def build():
            g.add_edges_from(edges)
    elif kind == "igraph":
        import igraph
        g = igraph.Graph(n=n, directed=True)

        def build():
            g.add_edges(edges)
    elif kind == "rustworkx":
        import rustworkx as rx
        g = rx.PyDiGraph(multigraph=False)
        g.add_nodes_from(range(n))

        def build():
            g.add_edges_from_no_data(edges)
    else:
        raise ValueError(f"unknown memory kind {kind!r}")
    gc.collect()
    before = core.rss_bytes()
    build()
    gc.collect()
    grown = core.rss_bytes() - before
    return {"kind": kind, "edges": len(edges), "bytes": grown, "bytes_per_edge": grown / len(edges)}
