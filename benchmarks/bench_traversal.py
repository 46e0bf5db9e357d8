"""Traversals on the shared graph: out-neighbours of every node, 2 hops out and the layer
at exactly 3 hops from each start, and 3 steps of damped flow from the starts. The peers have
no flow operation: they run the same loop in Python over their own adjacency."""
from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "traversal"
DAMPING = 0.85


def prepare(peer, size):
    return {"g": core.built(peer, size), "d": core.graph_data(size)}


def python_propagate(succ, seeds, steps, damping):
    """Damped flow; succ(n) yields (target, weight) in edge order."""
    scores, current = dict(seeds), dict(seeds)
    for _ in range(steps):
        nxt = {}
        for n in sorted(current):
            p = current[n]
            for m, w in succ(n):
                if w != 0.0:
                    nxt[m] = nxt.get(m, 0.0) + damping * (p * w)
        if not nxt:
            break
        for m, v in nxt.items():
            scores[m] = scores.get(m, 0.0) + v
        current = nxt
    return scores


def layers(succ, start, depth):
    """Breadth-first layers 1..depth from start over succ(n)."""
    seen, layer, out = {start}, [start], []
    for _ in range(depth):
        nxt = []
        for n in layer:
            for m in succ(n):
                if m not in seen:
                    seen.add(m)
                    nxt.append(m)
        out.append(nxt)
        layer = nxt
    return out


def seeds(d):
    return {s: 1.0 for s in d.starts}


# ---------------------------------------------------------------- per implementation

def ours(ctx):
    return ctx["g"], ctx["d"]


def nx_hops(G, s, depth, exact):
    import networkx as nx
    reached = nx.single_source_shortest_path_length(G, s, cutoff=depth)
    return [n for n, k in reached.items() if (k == depth if exact else k > 0)]


def ig_propagate(ctx):
    g, d = ctx["g"], ctx["d"]
    inc = g.get_inclist(mode="out")
    targets = [t for _, t in g.get_edgelist()]
    w = g.es["weight"]
    return python_propagate(lambda n: ((targets[e], w[e]) for e in sorted(inc[n])), seeds(d), 3, DAMPING)


def rx_propagate(ctx):
    g, d = ctx["g"], ctx["d"]
    return python_propagate(lambda n: ((t, w) for _, t, w in g.out_edges(n)), seeds(d), 3, DAMPING)


SETS = Compare("same node set per start", core.sorted_lists)
NEIGHBOURS = Compare("same neighbour set per node", core.sorted_lists)

TASKS = core.task_table(FAMILY, [
    Task("neighbors", "out-neighbours of every node", NEIGHBOURS, {
        "ours": ("g.neighbors(n) per node", lambda c: [c["g"].neighbors(n) for n in range(c["d"].n)]),
        "networkx": ("list(G.successors(n)) per node",
                     lambda c: [list(c["g"].successors(n)) for n in range(c["d"].n)]),
        "igraph": ("g.neighbors(n, mode='out') per node",
                   lambda c: [c["g"].neighbors(n, mode="out") for n in range(c["d"].n)]),
        "rustworkx": ("g.successor_indices(n) per node",
                      lambda c: [c["g"].successor_indices(n) for n in range(c["d"].n)]),
    }, headline=True),
    Task("k_hop 2", "the nodes within 2 hops out of each start", SETS, {
        "ours": ("g.k_hop(s, 2) per start", lambda c: [c["g"].k_hop(s, 2) for s in c["d"].starts]),
        "networkx": ("single_source_shortest_path_length(cutoff=2) per start",
                     lambda c: [nx_hops(c["g"], s, 2, False) for s in c["d"].starts]),
        "igraph": ("g.neighborhood(s, order=2, mindist=1) per start",
                   lambda c: [c["g"].neighborhood(s, order=2, mode="out", mindist=1) for s in c["d"].starts]),
        "rustworkx": ("Python BFS over successor_indices per start",
                      lambda c: [sum(layers(c["g"].successor_indices, s, 2), []) for s in c["d"].starts]),
    }, headline=True),
    Task("frontier 3", "the layer at exactly 3 hops from each start", SETS, {
        "ours": ("g.frontier([s], 3) per start", lambda c: [c["g"].frontier([s], 3) for s in c["d"].starts]),
        "networkx": ("single_source_shortest_path_length(cutoff=3), depth 3 kept",
                     lambda c: [nx_hops(c["g"], s, 3, True) for s in c["d"].starts]),
        "igraph": ("g.neighborhood(s, order=3, mindist=3) per start",
                   lambda c: [c["g"].neighborhood(s, order=3, mode="out", mindist=3) for s in c["d"].starts]),
        "rustworkx": ("Python BFS over successor_indices per start",
                      lambda c: [layers(c["g"].successor_indices, s, 3)[-1] for s in c["d"].starts]),
    }),
    Task("propagate 3", "3 steps of damped flow (0.85) from all starts, weighted by edge weight",
         Compare("same scored nodes, scores within 1e-9", core.keyed, tol=1e-9), {
             "ours": ("g.propagate(seeds, 3, 'weight', 0.85)",
                      lambda c: c["g"].propagate(seeds(c["d"]), 3, edge_property="weight", damping=DAMPING)),
             "networkx": ("the flow loop in Python over G.succ",
                          lambda c: python_propagate(lambda n: ((m, a["weight"]) for m, a in c["g"].succ[n].items()),
                                                     seeds(c["d"]), 3, DAMPING)),
             "igraph": ("the flow loop in Python over get_inclist", ig_propagate),
             "rustworkx": ("the flow loop in Python over out_edges", rx_propagate),
         }),
])
