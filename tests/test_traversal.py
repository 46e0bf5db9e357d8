import random

import pytest

from conftest import graph_of, ref_neighbors


def build(edges, n=None, props=None):
    n = n if n is not None else 1 + max((max(s, t) for s, t, _ in edges), default=-1)
    return graph_of(n, [(s, t, ty, (props or {}).get(i)) for i, (s, t, ty) in enumerate(edges)])


def test_direction_words_and_exact_type_text():
    # Orders are proved against the references below; these spellings and near-miss
    # type texts are not drawn there.
    g = build([(0, 1, "R"), (2, 0, "R"), (0, 3, "r"), (0, 4, "R ")])
    for words, expected in ((("out", "outgoing"), [1]), (("in", "incoming"), [2]), (("both", "all"), [1, 2])):
        for word in words:
            assert g.neighbors(0, word, "R") == g.k_hop(0, 1, word, "R") == g.frontier([0], 1, word, "R") == expected


# ---------------------------------------------------------------- errors


def test_argument_errors():
    # The direction word is quoted with escapes; other arguments fail in their conversion.
    g = build([(0, 1, "R")])
    with pytest.raises(ValueError) as e:
        g.k_hop(0, 1, 'Out"\\\t\n\x01')
    assert str(e.value) == "direction must be 'out', 'in', or 'both', got \"Out\\\"\\\\\\t\\n\\u{1}\""
    with pytest.raises(ValueError, match="^node 18446744073709551615 not found$"):
        g.neighbors(2**64 - 1)
    # starts are checked in order, even after a duplicate of a good one
    with pytest.raises(ValueError, match="^node 9 not found$"):
        g.frontier([0, 0, 9, 8], 1)
    cases = [
        (lambda: g.frontier("01", 1), TypeError, "argument 'starts'"),
        (lambda: g.frontier([0, "1"], 1), TypeError, "argument 'starts'"),
        (lambda: g.k_hop(0, -1), OverflowError, ""),
        (lambda: g.neighbors(2**64), OverflowError, ""),
        (lambda: g.neighbors(0, None), TypeError, "argument 'direction'"),
        (lambda: g.k_hop(0, 1, "out", 5), TypeError, "argument 'edge_type'"),
        (lambda: g.pagerank(damping="0.5"), TypeError, "argument 'damping'"),
        (lambda: g.subgraph("01"), TypeError, "argument 'nodes'"),
    ]
    for call, exc, text in cases:
        with pytest.raises(exc, match=text or None):
            call()


# ---------------------------------------------------------------- propagate


def test_propagate_weight_and_seed_checks_and_conversion():
    for value, tail in (("x", "is not a floating-point value"), (True, "is not a floating-point value"),
                        ("-inf", "must be finite and non-negative"), (-1, "must be finite and non-negative")):
        g = build([(0, 1, "R"), (0, 1, "R")], props={1: {"p\"k": value}})
        with pytest.raises(ValueError) as e:
            g.propagate({0: 1.0}, 1, 'p"k')
        assert str(e.value) == f'edge 1 property "p\\"k" {tail}'
    g = build([(0, 1, "R"), (0, 2, "R")], props={0: {"p": -0.0}, 1: {"p": "1e-1"}})
    assert g.propagate({0: 1.0}, 1, "p") == {0: 1.0, 2: 0.1}
    for bad in ({"damping": 1.0000001}, {"damping": float("inf")}):
        with pytest.raises(ValueError, match=r"^damping must be between 0\.0 and 1\.0$"):
            g.propagate({0: 1.0}, 1, **bad)
    for p in (float("inf"), float("nan")):
        with pytest.raises(ValueError, match="^seed probabilities must be finite and non-negative$"):
            g.propagate({0: p}, 1)
    assert g.propagate({0: -0.0, 1: 2}, 0) == {0: 0.0, 1: 2.0}
    assert g.propagate({True: 1.0}, 0) == {1: 1.0}
    g = build([(0, 1, "R"), (1, 2, "R")])
    for seeds, exc in (({0.0: 1.0}, TypeError), ({0: "1.0"}, TypeError), ({-1: 1.0}, OverflowError)):
        with pytest.raises(exc):
            g.propagate(seeds, 1)

    class Sneaky(dict):
        def items(self):
            return [(0, -1.0)]

        def __iter__(self):
            raise AssertionError("not used")

    assert g.propagate(Sneaky({1: 1.0}), 1) == {1: 1.0, 2: 1.0}

    seeds = {}

    class Key:  # hashes apart from 0 but names node 0, and rewrites the dict while converted
        def __init__(self, tag):
            self.tag = tag

        def __hash__(self):
            return hash(("key", self.tag))

        def __index__(self):
            seeds.clear()
            seeds.update({n: 1.0 for n in range(100)})
            return 0

    seeds.update({Key(1): 0.5, 1: 0.25, Key(2): 2.0})
    # the two keys naming node 0 collapse: first position, last value
    assert g.propagate(seeds, 0) == {0: 2.0, 1: 0.25}


# ---------------------------------------------------------------- against a reference


def ref_k_hop(edges, start, hops, direction, edge_type):
    visited, layer, result = {start}, [start], []
    for _ in range(hops):
        layer = [m for n in layer for m in ref_neighbors(edges, n, direction, edge_type)
                 if m not in visited and not visited.add(m)]
        result += layer
    return result


def ref_frontier(edges, starts, steps, direction, edge_type):
    visited = set()
    layer = [s for s in starts if s not in visited and not visited.add(s)]
    for _ in range(steps):
        layer = [m for n in layer for m in ref_neighbors(edges, n, direction, edge_type)
                 if m not in visited and not visited.add(m)]
    return layer


def ref_propagate(edges, weights, seeds, steps, damping, edge_type):
    scores, current = dict(seeds), dict(seeds)
    for _ in range(steps):
        nxt = {}
        for n in sorted(current):
            for eid, e in enumerate(edges):
                if e[0] == n and edge_type in (None, e[2]) and weights.get(eid, 1.0) != 0.0:
                    nxt[e[1]] = nxt.get(e[1], 0.0) + damping * (current[n] * weights.get(eid, 1.0))
        if not nxt:
            break
        for m, v in nxt.items():
            scores[m] = scores.get(m, 0.0) + v
        current = nxt
    return scores


def random_edges(rng, n, m):
    """Edges with weights stored as ints, floats, numeric texts, or absent (1.0)."""
    edges, props, weights = [], {}, {}
    for i in range(m):
        s = rng.randrange(n)
        edges.append((s, s if rng.random() < 0.05 else rng.randrange(n), rng.choice("AAB")))
        w = rng.choice([0, 1, 2, 0.0, 0.3, 1e-3, 0.5, 0.125, None])
        if w is not None:
            props[i] = {"probability": repr(w) if rng.random() < 0.3 else w, "other": True}
            weights[i] = float(w)
    return edges, props, weights


def check_against_reference(g, edges, weights, n, rng):
    types = [None, "A", "B", "Z"]
    for node in range(n):
        for direction in ("out", "in", "both"):
            ty = rng.choice(types)
            assert g.neighbors(node, direction, ty) == ref_neighbors(edges, node, direction, ty)
            hops = rng.randrange(4)
            assert g.k_hop(node, hops, direction, ty) == ref_k_hop(edges, node, hops, direction, ty)
    for _ in range(20):
        starts = [rng.randrange(n) for _ in range(rng.randrange(4))]
        steps, direction, ty = rng.randrange(4), rng.choice(["out", "in", "both"]), rng.choice(types)
        assert g.frontier(starts, steps, direction, ty) == ref_frontier(edges, starts, steps, direction, ty)
    for _ in range(20):
        seeds = {rng.randrange(n): rng.choice([0.0, 0.1, 1.0, 3.0]) for _ in range(rng.randrange(1, 5))}
        steps, damping, ty = rng.randrange(5), rng.choice([1.0, 0.85, 0.3, 0.0]), rng.choice(types)
        got = g.propagate(seeds, steps, damping=damping, edge_type=ty)
        assert got == ref_propagate(edges, weights, seeds, steps, damping, ty)  # exact: fixed summation order
        assert list(got) == sorted(got)


@pytest.mark.parametrize("seed", range(6))
def test_random_graphs_before_and_after_compaction(seed):
    rng = random.Random(seed)
    n = rng.randrange(5, 30)
    edges, props, weights = random_edges(rng, n, rng.randrange(0, 4 * n))
    g = build(edges, n, props)
    check_against_reference(g, edges, weights, n, rng)

    g.compact()
    snap = g.snapshot()
    check_against_reference(g, edges, weights, n, rng)

    # nodes and edges added after compaction sit in the delta lists beside the segment
    for _ in range(rng.randrange(1, 5)):
        g.add_node()
    n2 = g.node_count()
    more, more_props, more_weights = random_edges(rng, n2, rng.randrange(1, 3 * n2))
    for i, (s, t, ty) in enumerate(more):
        g.add_edge(s, t, ty, more_props.get(i))
    all_edges = edges + more
    all_weights = {**weights, **{len(edges) + i: w for i, w in more_weights.items()}}
    check_against_reference(g, all_edges, all_weights, n2, rng)

    # the snapshot taken between still answers as the graph did then
    for node in range(n):
        assert snap.k_hop(node, 3, "both") == ref_k_hop(edges, node, 3, "both", None)

    g.compact()
    check_against_reference(g, all_edges, all_weights, n2, rng)


def test_walk_state_does_not_leak_between_graphs_or_calls():
    # walk state is reused across calls; marks and scores from a bigger graph must not show
    big = build([(i, i + 1, "R") for i in range(200)] + [(200, 0, "R")])
    small = build([(0, 1, "R"), (1, 2, "R")], n=4)
    for _ in range(3):
        assert big.k_hop(0, 1000) == list(range(1, 201))
        assert small.k_hop(0, 1000) == [1, 2]
        assert small.frontier([3, 0], 2) == [2]
        assert big.propagate({0: 1.0}, 2) == {0: 1.0, 1: 1.0, 2: 1.0}
        assert small.propagate({1: 0.5}, 5) == {1: 0.5, 2: 0.5}
