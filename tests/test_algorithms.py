import heapq
import random

import networkx as nx
import pytest

import _quillmere
from conftest import graph_of, lcg_walk, power_iteration, ref_neighbors


def random_edges(rng, n, m, types=("a", "b")):
    edges = [(rng.randrange(n), rng.randrange(n), rng.choice(types), {"w": rng.uniform(0.1, 5.0)})
             for _ in range(m)]
    # Some parallel edges and self-loops on purpose.
    edges += [rng.choice(edges)[:3] + ({"w": rng.uniform(0.1, 5.0)},) for _ in range(m // 10)]
    edges += [(v, v, "a", {"w": 1.0}) for v in rng.sample(range(n), 3)]
    return edges


def multigraph(n, pairs):
    m = nx.MultiDiGraph()
    m.add_nodes_from(range(n))
    m.add_edges_from(pairs)
    return m


def views(g):
    """The graph, a snapshot of it, and the graph compacted."""
    yield "live", g
    yield "snapshot", g.snapshot()
    g.compact()
    yield "compacted", g


def test_shortest_path_weight_forms_and_errors():
    # Orders, ties and parallel edges are proved against the reference below on random graphs.
    # Strings parse, a missing property weighs 1.0, zero is allowed.
    g = graph_of(4, [(0, 1, "t", {"w": "2.5"}), (1, 2, "t", {}), (2, 3, "t", {"w": 0}), (0, 3, "t", {"w": 10})])
    assert g.shortest_path(0, 3, weight_property="w") == {"nodes": [0, 1, 2, 3], "distance": 3.5}
    assert g.shortest_path(0, 3, weight_property="absent") == {"nodes": [0, 3], "distance": 1.0}
    assert g.shortest_path(2, 2, direction="sideways") == {"nodes": [2], "distance": 0.0}
    # A bad weight is an error only on an edge the search reaches.
    g = graph_of(4, [(0, 1, "t", {"w": 1}), (2, 3, "t", {"w": True})])
    assert g.shortest_path(0, 1, weight_property="w") == {"nodes": [0, 1], "distance": 1.0}
    with pytest.raises(ValueError, match='^edge 1 property "w" is not a floating-point value$'):
        g.shortest_path(2, 3, weight_property="w")
    for w in (-1, "inf", "nan"):
        with pytest.raises(ValueError, match='^edge 0 property "w" must be finite and non-negative$'):
            graph_of(2, [(0, 1, "t", {"w": w})]).shortest_path(0, 1, weight_property="w")
    assert graph_of(2, [(0, 1, "t", {"w": -0.0})]).shortest_path(0, 1, weight_property="w")["distance"] == 0.0


def test_connected_components_order():
    g = graph_of(6, [(5, 0, "x"), (0, 3, "y"), (3, 2, "x"), (1, 4, "x")])
    assert g.connected_components() == [[0, 3, 5, 2], [1, 4]]
    assert g.connected_components(edge_type="x") == [[0, 5], [1, 4], [2, 3]]
    assert _quillmere.Graph().connected_components() == []


def test_pagerank_hand_worked_and_tolerance():
    assert _quillmere.Graph().pagerank() == {}
    g = graph_of(2, [(0, 1)])
    assert g.pagerank(iterations=0) == {0: 0.5, 1: 0.5}
    assert g.pagerank(iterations=1) == {0: 0.075 + 0.2125, 1: 0.075 + 0.2125 + 0.425}
    # Parallel edges and key order are compared with the power iteration on random graphs.
    # A cycle is already stationary: the first change is 0, so one iteration is done.
    g = graph_of(3, [(0, 1), (1, 2), (2, 0)])
    assert g.pagerank(iterations=50, tolerance=0.0) == g.pagerank(iterations=1)
    g = graph_of(3, [(0, 1), (1, 2)])
    assert g.pagerank(iterations=100, tolerance=0.5) == g.pagerank(iterations=1)
    assert g.pagerank(iterations=100, tolerance=-0.0) == g.pagerank(iterations=100)


def test_random_walk_follows_the_seeded_generator():
    rng = random.Random(5)
    edges = [(rng.randrange(30), rng.randrange(30), "t") for _ in range(120)]
    g = graph_of(30, edges)
    for direction in ("out", "in", "both"):
        adjacency = {v: ref_neighbors(edges, v, direction) for v in range(30)}
        for seed in (0, 1, 2**64 - 1, 123456789):
            assert g.random_walk(3, 40, direction=direction, seed=seed) == lcg_walk(adjacency, 3, 40, seed)
    assert g.random_walk(3, 0, seed=9) == [3]
    assert graph_of(2, []).random_walk(1, 10**18) == [1]


def test_subgraph_copies_records_under_their_ids():
    g = _quillmere.Graph()
    g.add_nodes([{"external_id": f"n{i}", "labels": ["L"], "properties": {"i": i}} for i in range(4)])
    g.add_edges([
        {"source": 2, "target": 0, "edge_type": "x", "properties": {"w": 1.5}},
        {"source": 0, "target": 1, "edge_type": "x"},
        {"source": 0, "target": 2, "edge_type": "y"},
        {"source": 2, "target": 2, "edge_type": "x"},
        {"source": 3, "target": 0, "edge_type": "x"},
    ])
    g.compact()
    g.add_edge(0, 2, "x", {"late": True})  # a delta edge among the chosen nodes
    s = g.subgraph([2, 0, 2])
    assert type(s) is _quillmere.GraphSnapshot
    assert s.node_ids() == [0, 2]
    assert s.edge_ids() == [0, 2, 3, 5]
    assert repr(s.get_node(2)) == repr(g.get_node(2)) and s.get_node(2).properties == {"i": 2}
    assert s.get_node_id("n2") == 2 and s.get_node_id("n1") is None
    assert [(e.source, e.target, e.properties) for e in s.edges()] == \
        [(e.source, e.target, e.properties) for e in map(g.get_edge, (0, 2, 3, 5))]
    assert s.bfs(2, direction="in") == [2, 0]
    assert g.subgraph([]).node_count() == 0
    # A subgraph of a snapshot is its own graph, and the source is unchanged.
    assert s.subgraph([0]).node_ids() == [0]
    assert g.edge_count() == 6


# ---------------------------------------------------------------- oracles on random graphs


def reference_dijkstra(edges, start, target, direction, weight):
    """First edge per neighbour, settled in (distance, id) order."""
    best, pred, heap = {start: 0.0}, {}, [(0.0, start)]
    while heap:
        d, u = heapq.heappop(heap)
        if d > best[u]:
            continue
        if u == target:
            break
        pairs = []
        if direction != "in":
            pairs += [(e[1], e) for e in edges if e[0] == u]
        if direction != "out":
            pairs += [(e[0], e) for e in edges if e[1] == u]
        seen = set()
        for m, e in pairs:
            if m in seen:
                continue
            seen.add(m)
            c = d + (float(e[3].get(weight, 1.0)) if weight else 1.0)
            if m not in best or c < best[m]:
                best[m], pred[m] = c, u
                heapq.heappush(heap, (c, m))
    if target not in best:
        return None
    path = [target]
    while path[-1] != start:
        path.append(pred[path[-1]])
    return {"nodes": path[::-1], "distance": best[target]}


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_random_graphs_against_references_and_networkx(seed):
    rng = random.Random(seed)
    n = 60
    edges = random_edges(rng, n, 150)
    half = len(edges) // 2
    g = graph_of(n, edges[:half])
    g.compact()
    g.add_edges([{"source": s, "target": t, "edge_type": ty, "properties": p} for s, t, ty, p in edges[half:]])
    multi = multigraph(n, ((s, t) for s, t, _, _ in edges))
    out = [ref_neighbors(edges, v) for v in range(n)]

    starts = rng.sample(range(n), 6)
    for view_name, v in views(g):
        for s in starts:
            assert v.bfs(s) == [s] + [b for _, b in nx.bfs_edges(multi, s)], view_name
            assert v.bfs(s, "in") == [s] + [b for _, b in nx.bfs_edges(multi, s, reverse=True)]
            assert v.bfs(s, max_depth=2) == [s] + [b for _, b in nx.bfs_edges(multi, s, depth_limit=2)]
            assert set(v.bfs(s, "both")) == nx.node_connected_component(multi.to_undirected(), s)
            for t in starts:
                assert v.shortest_path(s, t, weight_property="w") == reference_dijkstra(edges, s, t, "out", "w")
                assert v.shortest_path(s, t, direction="both") == reference_dijkstra(edges, s, t, "both", None)
                assert v.shortest_path(s, t, direction="in") == reference_dijkstra(edges, s, t, "in", None)
        components = v.connected_components()
        assert sorted(map(sorted, components)) == sorted(map(sorted, nx.weakly_connected_components(multi)))
        assert [c[0] for c in components] == sorted(min(c) for c in components)
        for iterations, tolerance in ((20, None), (200, 1e-12)):
            assert tuple(v.pagerank(iterations=iterations, tolerance=tolerance).values()) == \
                power_iteration(n, out, iterations, tolerance=tolerance)[-1]
        assert v.pagerank(edge_type="a", iterations=5) != v.pagerank(iterations=5)
        nodes = rng.sample(range(n), 15)
        sub = v.subgraph(nodes, edge_type="a")
        assert sub.edge_ids() == [i for i, e in enumerate(edges) if e[2] == "a" and e[0] in nodes and e[1] in nodes]
        assert sub.node_ids() == sorted(nodes)


def test_walks_over_a_large_share_of_a_bigger_graph_keep_their_order():
    # Large enough that a walk covering most of it changes how it reads the adjacency
    # part-way; the visiting order must not change with it.
    rng = random.Random(11)
    n = 3000
    edges = [(rng.randrange(n), rng.randrange(n), rng.choice("ab")) for _ in range(70000)]
    g = graph_of(n, edges[:50000])
    g.compact()
    g.add_edges([{"source": s, "target": t, "edge_type": ty} for s, t, ty in edges[50000:]])
    multi = multigraph(n, ((s, t) for s, t, _ in edges))
    typed = multigraph(n, ((s, t) for s, t, ty in edges if ty == "a"))
    start = 1234
    assert g.bfs(start) == [start] + [b for _, b in nx.bfs_edges(multi, start)]
    assert g.bfs(start, "in") == [start] + [b for _, b in nx.bfs_edges(multi, start, reverse=True)]
    assert g.bfs(start, edge_type="a") == [start] + [b for _, b in nx.bfs_edges(typed, start)]
    assert g.bfs(start, max_depth=2) == [start] + [b for _, b in nx.bfs_edges(multi, start, depth_limit=2)]
    both = {v: [] for v in range(n)}  # every outgoing neighbour before any incoming one
    for s, t, _ in edges + [(t, s, None) for s, t, _ in edges]:
        both[s].append(t)
    seen, order = {start}, [start]
    for v in order:
        for w in both[v]:
            if w not in seen:
                seen.add(w)
                order.append(w)
    assert g.bfs(start, "both") == order


def test_file_backed_graph_answers_the_same_after_reopening(db):
    rng = random.Random(4)
    n = 40
    edges = random_edges(rng, n, 120)
    g = graph_of(n, edges[:60], db)
    g.compact()
    g.add_edges([{"source": s, "target": t, "edge_type": ty, "properties": p} for s, t, ty, p in edges[60:]])

    def answers(v):
        return (
            [v.bfs(s, d) for s in (0, 7) for d in ("out", "in", "both")],
            [v.shortest_path(s, t, "both", "a", "w") for s, t in ((0, 9), (3, 30))],
            v.connected_components("b"),
            v.pagerank(iterations=7, edge_type="a"),
            v.random_walk(5, 30, "both", seed=77),
            v.subgraph(range(0, n, 3)).edge_ids(),
            v.compute_batch([{"op": "bfs", "start": 1}, {"op": "pagerank", "iterations": 3}]),
        )

    before = answers(g)
    assert answers(g.snapshot()) == before
    sub = g.subgraph([0, 1, 2])
    assert sub.node_count() == 3 and g.node_count() == n  # the subgraph never reaches the file
    del g
    assert answers(_quillmere.Graph(db)) == before
