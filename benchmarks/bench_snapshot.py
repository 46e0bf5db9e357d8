"""Snapshots of the shared graph: snapshot() with every edge compacted and with every edge
still in the per-node delta lists; the peers' only way to keep a moment of a graph is a full
copy. Then a read on a snapshot, which must cost what it costs on the live graph."""
from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "snapshot"


def prepare(peer, size):
    ctx = {"g": core.built(peer, size), "d": core.graph_data(size)}
    if peer == "ours":
        import _quillmere
        d = ctx["d"]
        delta = _quillmere.Graph()
        delta.add_nodes([{} for _ in range(d.n)])
        for lo in range(0, len(d.edges), core.BATCH):
            delta.add_edges([{"source": s, "target": t, "edge_type": "link"} for s, t in d.edges[lo:lo + core.BATCH]])
        ctx["delta"] = delta
        ctx["snap"] = ctx["g"].snapshot()
    return ctx


def k_hops(g, starts):
    return [g.k_hop(s, 2) for s in starts]


EDGES = Compare("same number of edges in the copy")

TASKS = core.task_table(FAMILY, [
    Task("snapshot", "a frozen view (ours) or a copy (peers) of the compacted graph", EDGES, {
        "ours": ("g.snapshot()", lambda c: c["g"].snapshot().edge_count()),
        "networkx": ("G.copy()", lambda c: c["g"].copy().number_of_edges()),
        "igraph": ("g.copy()", lambda c: c["g"].copy().ecount()),
        "rustworkx": ("g.copy()", lambda c: c["g"].copy().num_edges()),
    }, headline=True),
    Task("snapshot, delta lists", "snapshot() of a graph none of whose edges were compacted", EDGES, {
        "ours": ("g.snapshot()", lambda c: c["delta"].snapshot().edge_count()),
    }),
    Task("k_hop 2 on a snapshot", "2 hops out of each start, read from a snapshot (the same read on the "
         "live graph is traversal's k_hop 2)", None, {
             "ours": ("snap.k_hop(s, 2) per start", lambda c: k_hops(c["snap"], c["d"].starts)),
         }),
])
