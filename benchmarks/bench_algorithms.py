"""Graph algorithms on the shared graph: breadth-first search and weighted shortest paths
from each source (a few of the starts), weak components, PageRank. Load time is excluded."""
from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "algorithms"
# Enough iterations that ours matches the peers' converged scores well inside the tolerance.
PR_ITERATIONS = 100


def prepare(peer, size):
    return {"g": core.built(peer, size), "d": core.graph_data(size)}


def pairs(c):
    return list(zip(c["d"].sources, c["d"].goals))


def nx_distance(G, s, t):
    import networkx as nx
    try:
        return nx.dijkstra_path_length(G, s, t, weight="weight")
    except nx.NetworkXNoPath:
        return None


def ours_distance(g, s, t):
    r = g.shortest_path(s, t, weight_property="weight")
    return None if r is None else r["distance"]


def rx_distance(g, s, t):
    import rustworkx as rx
    r = rx.digraph_dijkstra_shortest_path_lengths(g, s, float, goal=t)
    return r[t] if t in r else None


def rx_bfs(g, s):
    import rustworkx as rx
    return [v for layer in rx.bfs_layers(g, [s]) for v in layer]


def nx_bfs(G, s):
    import networkx as nx
    return list(nx.single_source_shortest_path_length(G, s))


def nx_components(G):
    import networkx as nx
    return list(nx.weakly_connected_components(G))


def rx_components(g):
    import rustworkx as rx
    return rx.weakly_connected_components(g)


def rx_pagerank(g):
    import rustworkx as rx
    return rx.pagerank(g, alpha=0.85, max_iter=1000, tol=1e-12)


def nx_pagerank(G):
    import networkx as nx
    return nx.pagerank(G, alpha=0.85, weight=None, tol=1e-12)


def ig_components(g):
    return list(g.connected_components(mode="weak"))


# Visit order within a depth is each library's own; the set reached is what must agree.
VISITED = Compare("same visited set per source", core.sorted_lists)

TASKS = core.task_table(FAMILY, [
    Task("bfs", "breadth-first search from each source", VISITED, {
        "ours": ("g.bfs(s) per source", lambda c: [c["g"].bfs(s) for s in c["d"].sources]),
        "networkx": ("single_source_shortest_path_length per source",
                     lambda c: [nx_bfs(c["g"], s) for s in c["d"].sources]),
        "igraph": ("g.bfs(s, mode='out') per source", lambda c: [c["g"].bfs(s, mode="out")[0] for s in c["d"].sources]),
        "rustworkx": ("bfs_layers per source", lambda c: [rx_bfs(c["g"], s) for s in c["d"].sources]),
    }, headline=True),
    Task("shortest_path weighted", "Dijkstra from each source to one goal, by edge weight",
         Compare("same distances within 1e-9", core.distances, tol=1e-9), {
             "ours": ("g.shortest_path(s, t, weight_property='weight')",
                      lambda c: [ours_distance(c["g"], s, t) for s, t in pairs(c)]),
             "networkx": ("dijkstra_path_length", lambda c: [nx_distance(c["g"], s, t) for s, t in pairs(c)]),
             "igraph": ("g.distances(s, t, weights='weight')",
                        lambda c: [c["g"].distances(s, t, weights="weight")[0][0] for s, t in pairs(c)]),
             "rustworkx": ("digraph_dijkstra_shortest_path_lengths(goal=t)",
                           lambda c: [rx_distance(c["g"], s, t) for s, t in pairs(c)]),
         }),
    Task("connected_components", "weakly connected components", Compare("same partition", core.partition), {
        "ours": ("g.connected_components()", lambda c: c["g"].connected_components()),
        "networkx": ("weakly_connected_components", lambda c: nx_components(c["g"])),
        "igraph": ("g.connected_components(mode='weak')", lambda c: ig_components(c["g"])),
        "rustworkx": ("weakly_connected_components", lambda c: rx_components(c["g"])),
    }, headline=True),
    Task("pagerank", "PageRank, damping 0.85",
         Compare("scores within 1e-7 of each other", lambda pr: [pr[v] for v in range(len(pr))], tol=1e-7), {
             "ours": (f"g.pagerank(iterations={PR_ITERATIONS})",
                      lambda c: c["g"].pagerank(iterations=PR_ITERATIONS)),
             "networkx": ("nx.pagerank(tol=1e-12), needs scipy", lambda c: nx_pagerank(c["g"])),
             "igraph": ("g.pagerank() (an exact solve)", lambda c: c["g"].pagerank(damping=0.85, directed=True)),
             "rustworkx": ("rx.pagerank(tol=1e-12)", lambda c: rx_pagerank(c["g"])),
         }, headline=True),
])
