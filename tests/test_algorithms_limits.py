"""Walks and algorithms at their limits: huge counts, ids with gaps, filters naming no type,
and which error wins when several apply."""
import shutil
import sqlite3

import pytest

import _quillmere
from conftest import graph_of, lcg_next, power_iteration

HUGE = 2**64 - 1


def build(n, edges, props=None):
    return graph_of(n, [(s, t, ty, (props or {}).get(i)) for i, (s, t, ty) in enumerate(edges)])


def outcome(call):
    try:
        return call()
    except (ValueError, KeyError) as e:
        return (type(e).__name__, str(e).strip("'"))


# ---------------------------------------------------------------- huge counts


def test_pagerank_with_a_huge_iteration_count_ends_with_the_exact_scores():
    # These scores never reach a fixed point: from iteration 310 on they alternate between
    # two states, so the answer for any count is known and must come back without running
    # the count out.
    edges = [(1, 0), (4, 2), (2, 4), (3, 3), (3, 4), (3, 4)]
    n, damping = 5, 0.9
    g = build(n, [(s, t, "t") for s, t in edges])
    out = [[] for _ in range(n)]
    for s, t in edges:
        if t not in out[s]:
            out[s].append(t)
    states = power_iteration(n, out, 400, damping)
    first = {}
    for i, state in enumerate(states):
        if state in first:
            start, period = first[state], i - first[state]
            break
        first[state] = i
    else:
        pytest.fail("the reference never repeats; pick another graph")
    assert period > 1  # a fixed point alone would not show that whole cycles are skipped
    for count in [1, 2, start - 1, start, start + 1, start + period + 3, 399, 10**6 + 1, 10**18, HUGE - 1, HUGE]:
        expected = states[count] if count < len(states) else states[start + (count - start) % period]
        assert tuple(g.pagerank(iterations=count, damping=damping).values()) == expected, count
    # A tolerance that stops the run is still honoured, however large the count.
    loose = g.pagerank(iterations=HUGE, damping=damping, tolerance=0.01)
    assert loose == g.pagerank(iterations=next(i for i in range(1, 400) if sum(
        abs(a - b) for a, b in zip(states[i], states[i - 1])) <= 0.01), damping=damping)
    assert g.compute_batch([{"op": "pagerank", "iterations": HUGE, "damping": damping}])[0] == \
        g.pagerank(iterations=HUGE, damping=damping)


def test_other_huge_counts_end_where_the_walk_runs_out():
    # A cycle 0->1->2->0 with a tail 2->3: walks that stop on their own must not loop.
    g = build(4, [(0, 1, "t"), (1, 2, "t"), (2, 0, "t"), (2, 3, "t")])
    assert g.k_hop(0, HUGE) == [1, 2, 3]
    assert g.frontier([0], HUGE) == []
    assert g.bfs(0, "both", max_depth=HUGE) == [0, 1, 2, 3]
    assert g.random_walk(3, HUGE, seed=7) == [3]
    assert g.propagate({3: 1.0}, HUGE) == {3: 1.0}
    assert g.pagerank(iterations=HUGE, edge_type="none") == {v: 0.25 for v in range(4)}
    assert g.compute_batch([
        {"op": "bfs", "start": 0, "max_depth": HUGE},
        {"op": "random_walk", "start": 1, "steps": HUGE, "edge_type": "none"},
    ]) == [[0, 1, 2, 3], [1]]


# ---------------------------------------------------------------- vacant slots


@pytest.fixture
def gapped(tmp_path):
    """A file whose node 1 and edge 2 rows are missing: ids 0, 2, 3, 4 and edges 0, 1, 3, 4."""
    path = str(tmp_path / "gaps.db")
    g = _quillmere.Graph(path)
    g.add_nodes([{} for _ in range(5)])
    g.add_edges([
        {"source": 0, "target": 2, "edge_type": "t", "properties": {"w": 2}},
        {"source": 2, "target": 3, "edge_type": "t"},
        {"source": 0, "target": 3, "edge_type": "t", "properties": {"w": "bad"}},  # row removed
        {"source": 3, "target": 4, "edge_type": "u", "properties": {"w": 0.5}},
        {"source": 3, "target": 0, "edge_type": "t"},
    ])
    del g
    with sqlite3.connect(path) as db:
        db.execute("DELETE FROM nodes WHERE id = 1")
        db.execute("DELETE FROM edges WHERE id = 2")
    db.close()
    shutil.rmtree(path + ".segments", ignore_errors=True)
    return _quillmere.Graph(path)


def test_vacant_slots_are_neither_reached_nor_counted(gapped):
    for g in (gapped, gapped.snapshot()):
        assert g.node_ids() == [0, 2, 3, 4] and g.edge_ids() == [0, 1, 3, 4]
        assert g.neighbors(0) == [2] and g.neighbors(3, "both") == [4, 0, 2]
        assert g.k_hop(0, 5) == [2, 3, 4] and g.frontier([0], 1) == [2]
        assert g.bfs(4, "in") == [4, 3, 2, 0]
        # Had the removed edge 0->3 (weight "bad") survived, this would fail or be shorter.
        assert g.shortest_path(0, 4, weight_property="w") == {"nodes": [0, 2, 3, 4], "distance": 3.5}
        assert g.connected_components() == [[0, 2, 3, 4]]
        assert g.connected_components("t") == [[0, 2, 3], [4]]
        # The same graph with the gaps closed scores the same: the vacant slot is not counted.
        dense = build(4, [(0, 1, "t"), (1, 2, "t"), (2, 3, "u"), (2, 0, "t")])
        for iterations in (0, 1, 5):
            ranks = g.pagerank(iterations=iterations)
            assert list(ranks) == [0, 2, 3, 4]
            assert list(ranks.values()) == list(dense.pagerank(iterations=iterations).values())
        sub = g.subgraph([3, 0, 2])
        assert sub.node_ids() == [0, 2, 3] and sub.edge_ids() == [0, 1, 4]
        walk = g.random_walk(0, 3, seed=1)
        assert walk[:3] == [0, 2, 3] and walk[3] in (4, 0)
    assert gapped.propagate({0: 1.0}, 3, "w") == {0: 3.0, 2: 2.0, 3: 2.0, 4: 1.0}
    for call in (lambda g: g.neighbors(1), lambda g: g.k_hop(1, 1), lambda g: g.frontier([0, 1], 1),
                 lambda g: g.bfs(1), lambda g: g.shortest_path(0, 1), lambda g: g.random_walk(1, 1),
                 lambda g: g.subgraph([1]), lambda g: g.compute_batch([{"op": "bfs", "start": 1}])):
        assert outcome(lambda: call(gapped)) in {("ValueError", "node 1 not found"),
                                                  ("ValueError", "job 0: node 1 not found")}
    assert outcome(lambda: gapped.propagate({1: 1.0}, 1)) == ("ValueError", "node 1 not found")


# ---------------------------------------------------------------- filters naming no type


def test_an_edge_type_no_edge_has_filters_everything_out():
    g = build(3, [(0, 1, "t"), (1, 2, "t"), (2, 0, "u")])
    g.compact()
    g.add_edge(1, 0, "t")  # a delta edge too
    for t in ("none", "", "T", "t\x00"):
        assert g.neighbors(0, "both", t) == []
        assert g.k_hop(0, 3, "both", t) == [] and g.frontier([0], 1, "both", t) == []
        assert g.bfs(0, "both", t) == [0]
        assert g.shortest_path(0, 2, "both", t) is None
        assert g.connected_components(t) == [[0], [1], [2]]
        assert g.pagerank(iterations=4, edge_type=t) == {v: 1 / 3 for v in range(3)}
        assert g.random_walk(0, 9, "both", t, seed=3) == [0]
        assert g.subgraph([0, 1, 2], t).edge_ids() == []
        assert g.propagate({0: 1.0}, 4, edge_type=t) == {0: 1.0}
    assert g.neighbors(0, "both", "u") == [2]


# ---------------------------------------------------------------- which error wins


def test_error_precedence():
    g = build(3, [(0, 1, "t", ), (1, 2, "t")], props={0: {"w": "x"}})
    direction = "direction must be 'out', 'in', or 'both', got \"up\""
    cases = [
        (lambda: g.neighbors(9, "up"), "node 9 not found"),
        (lambda: g.k_hop(9, 0, "up"), "node 9 not found"),
        (lambda: g.k_hop(0, 0, "up"), direction),
        (lambda: g.frontier([9], 0, "up"), direction),
        (lambda: g.frontier([0, 9, 8], 0), "node 9 not found"),
        (lambda: g.bfs(9, "up", max_depth=0), "node 9 not found"),
        (lambda: g.bfs(0, "up", max_depth=0), direction),
        (lambda: g.bfs(0, "OUT"), "direction must be 'out', 'in', or 'both', got \"OUT\""),
        (lambda: g.shortest_path(9, 8, "up"), "node 9 not found"),
        (lambda: g.shortest_path(0, 8, "up"), "node 8 not found"),
        (lambda: g.shortest_path(0, 0, "up", weight_property="w"), {"nodes": [0], "distance": 0.0}),
        (lambda: g.shortest_path(0, 2, "up", weight_property="w"), direction),
        (lambda: g.shortest_path(0, 2, weight_property="w"), 'edge 0 property "w" is not a floating-point value'),
        (lambda: g.shortest_path(0, 2, weight_property="w", edge_type="none"), None),
        (lambda: g.random_walk(9, 0, "up"), "node 9 not found"),
        (lambda: g.random_walk(0, 0, "up"), direction),
        (lambda: g.pagerank(iterations=0, damping=-1.0, tolerance=-1.0), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(damping=float("nan")), "damping must be between 0.0 and 1.0"),
        (lambda: g.pagerank(tolerance=float("inf")), "tolerance must be finite and non-negative"),
        (lambda: g.pagerank(damping=0.0, iterations=1), {0: 1 / 3, 1: 1 / 3, 2: 1 / 3}),
        (lambda: _quillmere.Graph().pagerank(tolerance=float("nan")), "tolerance must be finite and non-negative"),
        (lambda: g.subgraph([0, 9, 8]), "node 9 not found"),
        (lambda: g.propagate({9: -1.0}, 0, damping=2.0), "damping must be between 0.0 and 1.0"),
        (lambda: g.propagate({0: 1.0, 9: -1.0}, 0), "node 9 not found"),
        (lambda: g.propagate({0: -1.0, 9: 1.0}, 0), "seed probabilities must be finite and non-negative"),
        (lambda: g.propagate({0: 1.0}, 0, "w"), {0: 1.0}),
        (lambda: g.propagate({0: 1.0}, 1, "w"), 'edge 0 property "w" is not a floating-point value'),
        # Batches: every job converts before any runs, fields in their listed order.
        (lambda: g.compute_batch([{"op": "shortest_path", "start": "x", "target": None, "direction": 1}]),
         'job 0 field "start" must be an int'),
        (lambda: g.compute_batch([{"op": "shortest_path", "start": 0, "target": None, "direction": 1}]),
         'job 0 missing "target"'),
        (lambda: g.compute_batch([{"op": "random_walk", "start": 0, "steps": 1, "direction": 1, "seed": "s"}]),
         'optional field "direction" must be a string'),
        (lambda: g.compute_batch([{"op": "pagerank", "iterations": -1, "damping": "x"}]),
         'optional field "iterations" must be an int'),
        (lambda: g.compute_batch([{"op": "pagerank", "damping": 9, "tolerance": "x"}]),
         'optional field "tolerance" must be a number'),
        (lambda: g.compute_batch([{"op": "subgraph", "nodes": [0, 9], "edge_type": 1}]),
         'optional field "edge_type" must be a string'),
        (lambda: g.compute_batch([{"op": "pagerank", "damping": 9, "tolerance": -1}]),
         "job 0: damping must be between 0.0 and 1.0"),
        (lambda: g.compute_batch([{"op": "shortest_path", "start": 0, "target": 2, "weight_property": "w"},
                                  {"op": "bfs", "start": 9}]),
         'job 0: edge 0 property "w" is not a floating-point value'),
    ]
    for call, expected in cases:
        got = outcome(call)
        if isinstance(expected, str):
            assert isinstance(got, tuple), (expected, got)
            expected = ("ValueError", expected)
        assert got == expected
    # The snapshot reports the same as the graph it copies.
    s = g.snapshot()
    assert outcome(lambda: s.shortest_path(0, 2, weight_property="w")) == \
        outcome(lambda: g.shortest_path(0, 2, weight_property="w"))
    assert outcome(lambda: s.compute_batch([{"op": "bfs", "start": 0, "direction": "up"}])) == \
        ("ValueError", "job 0: " + direction)


# ---------------------------------------------------------------- the walk's clock seed


def test_an_unseeded_walk_starts_from_the_clock_in_nanoseconds():
    # A hub 0 with 1000 spokes that all lead back: every second move picks one of 1000, so a
    # walk of 8 moves names its starting state among the clock readings taken around it.
    k = 1000
    g = build(k + 1, [(0, i, "t") for i in range(1, k + 1)] + [(i, 0, "t") for i in range(1, k + 1)])
    advance = lcg_next

    def pick(s):
        return (s ^ (s >> 33)) % k

    def walk_from(s):
        path = [0]
        for _ in range(8):
            s = advance(s)
            path.append(0 if path[-1] else 1 + pick(s))
        return path

    import time
    before = time.time_ns()
    walk = g.random_walk(0, 8)
    after = time.time_ns()
    first = walk[1] - 1
    matches = [s for s in range(before, after + 1) if pick(advance(s)) == first and walk_from(s) == walk]
    assert matches, "no clock reading between the calls gives this walk"
