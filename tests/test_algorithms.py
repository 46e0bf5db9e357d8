import heapq
import math
import random

import networkx as nx
import pytest

import _quillmere


def build(n, edges):
    """A graph with nodes 0..n-1 and edges (source, target[, type[, properties]]) in order."""
    g = _quillmere.Graph()
    g.add_nodes([{} for _ in range(n)])
    records = []
    for e in edges:
        rec = {"source": e[0], "target": e[1], "edge_type": e[2] if len(e) > 2 else "t"}
        if len(e) > 3:
            rec["properties"] = e[3]
        records.append(rec)
    if records:
        g.add_edges(records)
    return g


def random_edges(rng, n, m, types=("a", "b")):
    edges = []
    for _ in range(m):
        edges.append((rng.randrange(n), rng.randrange(n), rng.choice(types), {"w": rng.uniform(0.1, 5.0)}))
    # Some parallel edges and self-loops on purpose.
    for _ in range(m // 10):
        s, t, ty, _props = rng.choice(edges)
        edges.append((s, t, ty, {"w": rng.uniform(0.1, 5.0)}))
    for _ in range(3):
        v = rng.randrange(n)
        edges.append((v, v, "a", {"w": 1.0}))
    return edges


def views(g):
    """The graph, a snapshot of it, the graph compacted, and compacted plus later edges."""
    yield "live", g
    yield "snapshot", g.snapshot()
    g.compact()
    yield "compacted", g


# ---------------------------------------------------------------- hand-worked orders


def test_bfs_orders_and_depth_limits():
    #   0 -> 2, 0 -> 1, 1 -> 3, 2 -> 3, 3 -> 4, 5 -> 0
    g = build(6, [(0, 2), (0, 1), (1, 3), (2, 3), (3, 4), (5, 0)])
    for _, v in views(g):
        assert v.bfs(0) == [0, 2, 1, 3, 4]  # neighbours in edge order, not id order
        assert v.bfs(0, max_depth=0) == [0]
        assert v.bfs(0, max_depth=1) == [0, 2, 1]
        assert v.bfs(0, max_depth=2) == [0, 2, 1, 3]
        assert v.bfs(4) == [4]
        assert v.bfs(4, direction="in") == [4, 3, 1, 2, 0, 5]
        assert v.bfs(1, direction="both") == [1, 3, 0, 4, 2, 5]  # outgoing before incoming
        assert v.bfs(1, "all", max_depth=1) == [1, 3, 0]
        assert v.bfs(0, edge_type="nope") == [0]


def test_bfs_edge_type_filter_and_self_loop():
    g = build(4, [(0, 0, "x"), (0, 1, "x"), (0, 2, "y"), (2, 3, "x")])
    assert g.bfs(0) == [0, 1, 2, 3]
    assert g.bfs(0, edge_type="x") == [0, 1]
    assert g.bfs(0, edge_type="y") == [0, 2]


def test_shortest_path_weights_parallel_edges_and_ties():
    # Two parallel a->b edges of weight 5 then 1: only the first counts.
    g = build(2, [(0, 1, "t", {"w": 5}), (0, 1, "t", {"w": 1})])
    assert g.shortest_path(0, 1, weight_property="w") == {"nodes": [0, 1], "distance": 5.0}
    assert g.shortest_path(0, 1) == {"nodes": [0, 1], "distance": 1.0}
    assert g.shortest_path(1, 0) is None
    assert g.shortest_path(1, 0, direction="in") == {"nodes": [1, 0], "distance": 1.0}

    # Ties between equal distances settle the lower id first, which decides the
    # predecessor of 3: 0->2 is added before 0->1 but 1 settles first.
    g = build(4, [(0, 2), (0, 1), (2, 3), (1, 3)])
    assert g.shortest_path(0, 3) == {"nodes": [0, 1, 3], "distance": 2.0}

    # Strings parse, a missing property weighs 1.0, zero is allowed.
    g = build(4, [(0, 1, "t", {"w": "2.5"}), (1, 2, "t", {}), (2, 3, "t", {"w": 0}), (0, 3, "t", {"w": 10})])
    assert g.shortest_path(0, 3, weight_property="w") == {"nodes": [0, 1, 2, 3], "distance": 3.5}
    assert g.shortest_path(0, 3, weight_property="absent") == {"nodes": [0, 3], "distance": 1.0}
    assert g.shortest_path(2, 2, direction="sideways") == {"nodes": [2], "distance": 0.0}


def test_shortest_path_weight_errors_only_on_reached_edges():
    g = build(4, [(0, 1, "t", {"w": 1}), (2, 3, "t", {"w": True})])
    # The bad edge is never reached from 0.
    assert g.shortest_path(0, 1, weight_property="w") == {"nodes": [0, 1], "distance": 1.0}
    with pytest.raises(ValueError) as e:
        g.shortest_path(2, 3, weight_property="w")
    assert str(e.value) == 'edge 1 property "w" is not a floating-point value'
    cases = [({"w": "x"}, "is not a floating-point value"), ({"w": -1}, "must be finite and non-negative"),
             ({"w": "inf"}, "must be finite and non-negative"), ({"w": "nan"}, "must be finite and non-negative"),
             ({"w": -1.5}, "must be finite and non-negative")]
    for props, tail in cases:
        g = build(2, [(0, 1, "t", props)])
        with pytest.raises(ValueError) as e:
            g.shortest_path(0, 1, weight_property="w")
        assert str(e.value) == f'edge 0 property "w" {tail}'
    g = build(2, [(0, 1, "t", {"w": -0.0})])
    assert g.shortest_path(0, 1, weight_property="w")["distance"] == 0.0


def test_connected_components_order():
    g = build(5, [(3, 1), (4, 2)])
    assert g.connected_components() == [[0], [1, 3], [2, 4]]
    g = build(6, [(5, 0, "x"), (0, 3, "y"), (3, 2, "x"), (1, 4, "x")])
    assert g.connected_components() == [[0, 3, 5, 2], [1, 4]]
    assert g.connected_components(edge_type="x") == [[0, 5], [1, 4], [2, 3]]
    assert _quillmere.Graph().connected_components() == []


def test_pagerank_hand_worked():
    assert _quillmere.Graph().pagerank() == {}
    g = build(2, [(0, 1)])
    assert g.pagerank(iterations=0) == {0: 0.5, 1: 0.5}
    assert g.pagerank(iterations=1) == {0: 0.075 + 0.2125, 1: 0.075 + 0.2125 + 0.425}
    # Parallel edges do not add weight: 0 splits its score evenly over 1 and 2.
    g = build(3, [(0, 1), (0, 1), (0, 2)])
    r = g.pagerank(iterations=1, damping=1.0)
    third = 1 / 3
    assert r == {0: 2 * third / 3, 1: 2 * third / 3 + third / 2, 2: 2 * third / 3 + third / 2}
    assert list(r) == [0, 1, 2]
    # With an edge type no edge has, every node is dangling and nothing moves.
    assert g.pagerank(edge_type="nope") == {0: third, 1: third, 2: third}


def test_pagerank_tolerance_stops_early():
    g = build(3, [(0, 1), (1, 2), (2, 0)])
    # A cycle is already stationary: the first change is 0, so one iteration is done.
    assert g.pagerank(iterations=50, tolerance=0.0) == g.pagerank(iterations=1)
    g = build(3, [(0, 1), (1, 2)])
    loose = g.pagerank(iterations=100, tolerance=0.5)
    assert loose == g.pagerank(iterations=1)
    assert g.pagerank(iterations=100, tolerance=-0.0) == g.pagerank(iterations=100)


def lcg_walk(adjacency, start, steps, seed):
    """The stated generator, applied to precomputed neighbour lists."""
    s, path, cur = seed, [start], start
    for _ in range(steps):
        choices = adjacency[cur]
        if not choices:
            break
        s = (s * 0x5851F42D4C957F2D + 0x14057B7EF767814F) % 2**64
        cur = choices[(s ^ (s >> 33)) % len(choices)]
        path.append(cur)
    return path


def test_random_walk_generator_and_edges():
    rng = random.Random(5)
    g = build(30, [(rng.randrange(30), rng.randrange(30)) for _ in range(120)])
    for direction in ("out", "in", "both"):
        adjacency = neighbour_lists(g, 30, direction)
        for seed in (0, 1, 2**64 - 1, 123456789):
            assert g.random_walk(3, 40, direction=direction, seed=seed) == lcg_walk(adjacency, 3, 40, seed)
    assert g.random_walk(3, 0, seed=9) == [3]
    lone = build(2, [])
    assert lone.random_walk(1, 10**18) == [1]
    walk = g.random_walk(0, 50)  # seeded from the clock: still a walk along edges
    adjacency = neighbour_lists(g, 30, "out")
    assert all(b in adjacency[a] for a, b in zip(walk, walk[1:]))


def neighbour_lists(g, n, direction):
    """Distinct neighbours in first-edge order, from the edge records themselves."""
    lists = {v: [] for v in range(n)}
    edges = [g.get_edge(e) for e in g.edge_ids()]
    for v in range(n):
        out = [e.target for e in edges if e.source == v]
        inc = [e.source for e in edges if e.target == v]
        seq = out if direction == "out" else inc if direction == "in" else out + inc
        for m in seq:
            if m not in lists[v]:
                lists[v].append(m)
    return lists


def record(r):
    return {k: getattr(r, k) for k in dir(r) if not k.startswith("_")}


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
    assert record(s.get_node(2)) == record(g.get_node(2))
    assert s.get_node_id("n2") == 2 and s.get_node_id("n1") is None
    for e in (0, 5):
        assert record(s.get_edge(e)) == record(g.get_edge(e))
    assert s.bfs(0) == [0, 2]
    assert s.bfs(2, direction="in") == [2, 0]
    assert g.subgraph([2, 0], edge_type="x").edge_ids() == [0, 3, 5]
    assert g.subgraph([]).node_count() == 0
    # A subgraph of a snapshot is its own graph, and the source is unchanged.
    assert s.subgraph([0]).node_ids() == [0]
    assert g.edge_count() == 6


# ---------------------------------------------------------------- messages and arguments


def test_error_messages_and_check_order():
    g = build(3, [(0, 1)])
    cases = [
        (lambda: g.bfs(7, direction="bad"), "node 7 not found"),
        (lambda: g.bfs(0, direction="OUT"), "direction must be 'out', 'in', or 'both', got \"OUT\""),
        (lambda: g.shortest_path(9, 0), "node 9 not found"),
        (lambda: g.shortest_path(0, 9, direction="bad"), "node 9 not found"),
        (lambda: g.shortest_path(0, 1, direction="up"), "direction must be 'out', 'in', or 'both', got \"up\""),
        (lambda: g.random_walk(5, 3, direction="x"), "node 5 not found"),
        (lambda: g.random_walk(0, 3, direction="x\n"), "direction must be 'out', 'in', or 'both', got \"x\\n\""),
        (lambda: g.subgraph([0, 4, 8]), "node 4 not found"),
        (lambda: g.pagerank(damping=1.5), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(damping=-0.01), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(damping=math.nan), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(damping=2.0, tolerance=-1.0), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(tolerance=-1.0), "tolerance must be finite and non-negative"),
        (lambda: g.pagerank(tolerance=math.inf), "tolerance must be finite and non-negative"),
        (lambda: g.pagerank(tolerance=math.nan), "tolerance must be finite and non-negative"),
        (lambda: g.bfs(2**64 - 1), f"node {2**64 - 1} not found"),
    ]
    for call, message in cases:
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == message
    # Validation precedes the empty-graph shortcut.
    with pytest.raises(ValueError):
        _quillmere.Graph().pagerank(damping=3.0)
    assert g.pagerank(damping=0.0, iterations=1) == {0: 1 / 3, 1: 1 / 3, 2: 1 / 3}


def test_argument_conversion():
    g = build(2, [(0, 1)])
    for call, error in ((lambda: g.bfs(-1), OverflowError), (lambda: g.random_walk(0, -1), OverflowError),
                        (lambda: g.subgraph("01"), TypeError), (lambda: g.pagerank(damping="0.5"), TypeError)):
        with pytest.raises(error):
            call()
    assert g.subgraph((1, 0)).node_ids() == [0, 1]
    assert g.bfs(0, max_depth=2**64 - 1) == [0, 1]


def test_snapshot_has_the_read_methods_and_keeps_old_answers():
    g = build(3, [(0, 1)])
    s = g.snapshot()
    g.add_edge(1, 2, "t")
    assert g.bfs(0) == [0, 1, 2]
    assert s.bfs(0) == [0, 1]
    assert s.connected_components() == [[0, 1], [2]]
    assert s.shortest_path(0, 2) is None
    assert s.pagerank(iterations=3) == build(3, [(0, 1)]).pagerank(iterations=3)
    assert s.random_walk(0, 5, seed=3) == [0, 1]
    assert s.subgraph([0, 1]).edge_ids() == [0]
    assert _quillmere.GraphSnapshot.pagerank.__text_signature__ == \
        "($self, iterations=20, damping=0.85, tolerance=None, edge_type=None)"


# ---------------------------------------------------------------- oracles on random graphs


def reference_pagerank(g, n, iterations, damping, tolerance=None):
    """The stated power iteration in plain Python floats, sums in the stated order."""
    out = neighbour_lists(g, n, "out")
    score = {v: 1.0 / n for v in range(n)}
    for done in range(iterations):
        dangling = 0.0
        for v in range(n):
            if not out[v]:
                dangling += score[v]
        base = (1.0 - damping) / n + damping * dangling / n
        new = {v: base for v in range(n)}
        for u in range(n):
            if out[u]:
                share = damping * score[u] / len(out[u])
                for w in out[u]:
                    new[w] += share
        change = 0.0
        for v in range(n):
            change += abs(new[v] - score[v])
        score = new
        if tolerance is not None and change <= tolerance:
            break
    return score


def reference_dijkstra(g, n, start, target, direction, weight):
    """The stated search: first edge per neighbour, (distance, id) order."""
    edges = [g.get_edge(e) for e in g.edge_ids()]
    best, pred, heap = {start: 0.0}, {}, [(0.0, start)]
    while heap:
        d, u = heapq.heappop(heap)
        if d > best[u]:
            continue
        if u == target:
            break
        seen = set()
        pairs = []
        if direction != "in":
            pairs += [(e.target, e) for e in edges if e.source == u]
        if direction != "out":
            pairs += [(e.source, e) for e in edges if e.target == u]
        for m, e in pairs:
            if m in seen:
                continue
            seen.add(m)
            w = float(e.properties.get(weight, 1.0)) if weight else 1.0
            c = d + w
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
    g = build(n, edges[:half])
    g.compact()
    g.add_edges([{"source": s, "target": t, "edge_type": ty, "properties": p} for s, t, ty, p in edges[half:]])

    multi = nx.MultiDiGraph()
    multi.add_nodes_from(range(n))
    simple = nx.DiGraph()  # the first edge per ordered pair, which is what our searches use
    simple.add_nodes_from(range(n))
    for s, t, _ty, p in edges:
        multi.add_edge(s, t)
        if not simple.has_edge(s, t):
            simple.add_edge(s, t, w=p["w"])

    starts = rng.sample(range(n), 6)
    for view_name, v in views(g):
        for s in starts:
            assert v.bfs(s) == [s] + [b for _, b in nx.bfs_edges(multi, s)], view_name
            assert v.bfs(s, "in") == [s] + [b for _, b in nx.bfs_edges(multi, s, reverse=True)]
            assert v.bfs(s, max_depth=2) == [s] + [b for _, b in nx.bfs_edges(multi, s, depth_limit=2)]
            assert set(v.bfs(s, "both")) == nx.node_connected_component(multi.to_undirected(), s)
            lengths = nx.single_source_dijkstra_path_length(simple, s, weight="w")
            for t in starts:
                got = v.shortest_path(s, t, weight_property="w")
                assert got == reference_dijkstra(v, n, s, t, "out", "w")
                if t in lengths:
                    assert got["distance"] == pytest.approx(lengths[t], rel=1e-12)
                else:
                    assert got is None
                assert v.shortest_path(s, t, direction="both") == reference_dijkstra(v, n, s, t, "both", None)
        components = v.connected_components()
        assert sorted(map(sorted, components)) == sorted(map(sorted, nx.weakly_connected_components(multi)))
        assert [c[0] for c in components] == sorted(min(c) for c in components)
        for iterations, tolerance in ((20, None), (200, 1e-12)):
            assert v.pagerank(iterations=iterations, tolerance=tolerance) == \
                reference_pagerank(v, n, iterations, 0.85, tolerance)
        typed = v.pagerank(edge_type="a", iterations=5)
        assert typed != v.pagerank(iterations=5)
        nodes = rng.sample(range(n), 15)
        sub = v.subgraph(nodes, edge_type="a")
        expected_edges = sorted(e for e in v.edges_by_type("a")
                                if v.get_edge(e).source in nodes and v.get_edge(e).target in nodes)
        assert sub.edge_ids() == expected_edges
        assert sub.node_ids() == sorted(nodes)


def test_walks_over_a_large_share_of_a_bigger_graph_keep_their_order():
    # Large enough that a walk covering most of it changes how it reads the adjacency
    # part-way; the visiting order must not change with it.
    rng = random.Random(11)
    n, m = 3000, 70000
    pairs = [(rng.randrange(n), rng.randrange(n)) for _ in range(m)]
    types = [rng.choice("ab") for _ in range(m)]
    g = _quillmere.Graph()
    g.add_nodes([{} for _ in range(n)])
    g.add_edges([{"source": s, "target": t, "edge_type": ty} for (s, t), ty in zip(pairs[:50000], types)])
    g.compact()
    g.add_edges([{"source": s, "target": t, "edge_type": ty} for (s, t), ty in zip(pairs[50000:], types[50000:])])
    multi = nx.MultiDiGraph()
    multi.add_nodes_from(range(n))
    typed = nx.MultiDiGraph()
    typed.add_nodes_from(range(n))
    for (s, t), ty in zip(pairs, types):
        multi.add_edge(s, t)
        if ty == "a":
            typed.add_edge(s, t)
    outgoing = {v: [] for v in range(n)}
    incoming = {v: [] for v in range(n)}
    for s, t in pairs:
        outgoing[s].append(t)
        incoming[t].append(s)
    start = 1234
    assert g.bfs(start) == [start] + [b for _, b in nx.bfs_edges(multi, start)]
    assert g.bfs(start, "in") == [start] + [b for _, b in nx.bfs_edges(multi, start, reverse=True)]
    assert g.bfs(start, edge_type="a") == [start] + [b for _, b in nx.bfs_edges(typed, start)]
    assert g.bfs(start, max_depth=2) == [start] + [b for _, b in nx.bfs_edges(multi, start, depth_limit=2)]
    seen, order = {start}, [start]
    for v in order:
        for w in outgoing[v] + incoming[v]:
            if w not in seen:
                seen.add(w)
                order.append(w)
    assert g.bfs(start, "both") == order


def test_file_backed_graph_answers_the_same_after_reopening(tmp_path):
    rng = random.Random(4)
    n = 40
    edges = random_edges(rng, n, 120)
    path = str(tmp_path / "g.db")
    g = _quillmere.Graph(path)
    g.add_nodes([{} for _ in range(n)])
    g.add_edges([{"source": s, "target": t, "edge_type": ty, "properties": p} for s, t, ty, p in edges[:60]])
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
    reopened = _quillmere.Graph(path)
    assert answers(reopened) == before


def test_vacant_node_slots_are_not_nodes(tmp_path):
    # A file whose node ids have a gap loads with a vacant slot; whole-graph algorithms
    # must neither count it nor visit it.
    import shutil
    import sqlite3

    path = str(tmp_path / "gap.db")
    g = _quillmere.Graph(path)
    g.add_nodes([{} for _ in range(5)])
    g.add_edges([{"source": 0, "target": 2, "edge_type": "t"}, {"source": 2, "target": 3, "edge_type": "t"}])
    del g
    with sqlite3.connect(path) as db:
        db.execute("DELETE FROM nodes WHERE id = 1")
    db.close()
    shutil.rmtree(path + ".segments", ignore_errors=True)
    g = _quillmere.Graph(path)
    assert g.node_ids() == [0, 2, 3, 4]
    dense = build(4, [(0, 1), (1, 2)])  # the same graph with the gap closed
    for iterations in (0, 1, 5):
        assert list(g.pagerank(iterations=iterations).values()) == list(dense.pagerank(iterations=iterations).values())
    assert list(g.pagerank()) == [0, 2, 3, 4]
    assert g.connected_components() == [[0, 2, 3], [4]]
    assert g.bfs(3, "in") == [3, 2, 0]
    with pytest.raises(ValueError, match="node 1 not found"):
        g.subgraph([0, 1])
