import random
from collections import deque

import pytest

import _quillmere


def build(edges, n=None, props=None):
    """A graph with nodes 0..n-1 and the given (source, target, type) edges in order."""
    g = _quillmere.Graph()
    n = n if n is not None else 1 + max((max(s, t) for s, t, _ in edges), default=-1)
    for _ in range(n):
        g.add_node()
    for i, (s, t, ty) in enumerate(edges):
        g.add_edge(s, t, ty, (props or {}).get(i))
    return g


# ---------------------------------------------------------------- hand-worked orders


class TestNeighbors:
    def test_orders_and_dedup(self):
        # 0->2, 0->1, 0->2 (parallel), 3->0, 1->0, 0->0 (self-loop)
        g = build([(0, 2, "R"), (0, 1, "R"), (0, 2, "S"), (3, 0, "R"), (1, 0, "R"), (0, 0, "S")])
        assert g.neighbors(0) == [2, 1, 0]
        assert g.neighbors(0, "in") == [3, 1, 0]
        # a node that is both successor and predecessor keeps its outgoing position
        assert g.neighbors(0, "both") == [2, 1, 0, 3]
        assert g.neighbors(0, "out", "S") == [2, 0]
        assert g.neighbors(0, "both", "R") == [2, 1, 3]
        assert g.neighbors(0, edge_type="missing") == []
        assert g.neighbors(2) == []

    @pytest.mark.parametrize("word,expected", [
        ("out", [1]), ("outgoing", [1]), ("in", [2]), ("incoming", [2]),
        ("both", [1, 2]), ("all", [1, 2]),
    ])
    def test_direction_words(self, word, expected):
        g = build([(0, 1, "R"), (2, 0, "R")])
        assert g.neighbors(0, word) == expected
        assert g.k_hop(0, 1, word) == expected
        assert g.frontier([0], 1, word) == expected

    def test_type_filter_is_exact_text(self):
        g = build([(0, 1, "R"), (0, 2, "r"), (0, 3, "R ")])
        assert g.neighbors(0, edge_type="R") == [1]
        assert g.neighbors(0, edge_type="") == []


class TestKHopAndFrontier:
    def test_path(self):
        g = build([(0, 1, "R"), (1, 2, "R")])
        assert g.k_hop(0, 5) == [1, 2]
        assert g.k_hop(0, 1) == [1]
        assert g.k_hop(0, 0) == []
        assert g.k_hop(2, 3, "in") == [1, 0]
        assert g.frontier([0], 2) == [2]
        assert g.frontier([0], 3) == []
        assert g.frontier([0], 1, direction="in") == []
        assert g.frontier([0], 2**64 - 1) == []

    def test_self_loop_never_returns_start(self):
        g = build([(0, 0, "R"), (0, 1, "R"), (1, 0, "R")])
        assert g.neighbors(0) == [0, 1]
        assert g.k_hop(0, 3) == [1]
        assert g.k_hop(0, 3, "both") == [1]

    def test_breadth_first_discovery_order(self):
        # 0 -> 3, 0 -> 1; 3 -> 4; 1 -> 4, 1 -> 2; 4 -> 5
        g = build([(0, 3, "R"), (0, 1, "R"), (3, 4, "R"), (1, 4, "R"), (1, 2, "R"), (4, 5, "R")])
        assert g.k_hop(0, 2) == [3, 1, 4, 2]
        assert g.k_hop(0, 3) == [3, 1, 4, 2, 5]
        assert g.frontier([0], 2) == [4, 2]

    def test_frontier_starts(self):
        g = build([(0, 2, "R"), (1, 2, "R"), (2, 3, "R"), (1, 3, "R")])
        assert g.frontier([1, 1, 0], 0) == [1, 0]
        # the start set is distance 0, so a start reachable from another start is not in layer 1
        assert g.frontier([1, 0, 2], 1) == [3]
        assert g.frontier([0, 1], 1) == [2, 3]
        assert g.frontier([], 2) == []
        assert g.frontier((0,), 1) == [2]


# ---------------------------------------------------------------- errors


BAD_WORD = 'Out"\\\t\n\x01'
BAD_WORD_MSG = "direction must be 'out', 'in', or 'both', got \"Out\\\"\\\\\\t\\n\\u{1}\""


class TestErrors:
    def test_messages_and_check_order(self):
        g = build([(0, 1, "R")])
        with pytest.raises(ValueError, match=r"^direction must be 'out', 'in', or 'both', got \"OUT\"$"):
            g.neighbors(0, "OUT")
        with pytest.raises(ValueError) as e:
            g.k_hop(0, 1, BAD_WORD)
        assert str(e.value) == BAD_WORD_MSG
        # neighbors and k_hop report the node first, frontier the direction first
        with pytest.raises(ValueError, match="^node 7 not found$"):
            g.neighbors(7, "sideways")
        with pytest.raises(ValueError, match="^node 7 not found$"):
            g.k_hop(7, 1, "sideways")
        with pytest.raises(ValueError, match="^direction must be"):
            g.frontier([7], 1, "sideways")
        # starts are checked in order, even after a duplicate of a good one
        with pytest.raises(ValueError, match="^node 9 not found$"):
            g.frontier([0, 0, 9, 8], 1)
        with pytest.raises(ValueError, match="^node 18446744073709551615 not found$"):
            g.neighbors(2**64 - 1)

    def test_argument_types(self):
        g = build([(0, 1, "R")])
        with pytest.raises(TypeError, match="argument 'starts'"):
            g.frontier("01", 1)
        with pytest.raises(TypeError, match="argument 'starts'"):
            g.frontier([0, "1"], 1)
        with pytest.raises(OverflowError):
            g.k_hop(0, -1)
        with pytest.raises(OverflowError):
            g.neighbors(2**64)
        with pytest.raises(TypeError, match="argument 'direction'"):
            g.neighbors(0, None)
        with pytest.raises(TypeError, match="argument 'edge_type'"):
            g.k_hop(0, 1, "out", 5)
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'hops'"):
            g.k_hop(0)


# ---------------------------------------------------------------- propagate


class TestPropagate:
    def test_hand_worked(self):
        g = build([(0, 1, "R")])
        assert g.propagate({0: 1.0}, 1) == {0: 1.0, 1: 1.0}
        assert g.propagate({0: 1.0}, 0) == {0: 1.0}
        assert g.propagate({}, 3) == {}
        g2 = build([(0, 1, "R")], props={0: {"probability": 0.4}})
        assert g2.propagate({0: 1.0}, 1, damping=0.5) == {0: 1.0, 1: 0.2}

    def test_flow_rules(self):
        # 0 -> 1 twice (parallel), 1 -> 0 (cycle), 0 -> 2 weight 0 (skipped), 1 -> 3 type S
        g = build(
            [(0, 1, "R"), (0, 1, "R"), (1, 0, "R"), (0, 2, "R"), (1, 3, "S")],
            props={0: {"w": 0.25}, 1: {"w": "0.5"}, 2: {"w": 2}, 3: {"w": 0.0}, 4: {"w": 3}},
        )
        r = g.propagate({0: 1.0}, 1, "w")
        assert r == {0: 1.0, 1: 0.75}  # parallel edges both count; zero weight reaches nothing
        r = g.propagate({0: 1.0}, 2, "w")
        # step 2 carries only what arrived in step 1 (0.75): back to 0 and on to 3
        assert r == {0: 1.0 + 1.5, 1: 0.75, 3: 2.25}
        assert g.propagate({0: 1.0}, 2, "w", edge_type="R") == {0: 2.5, 1: 0.75}
        # damping 0 still reaches targets, with zero amounts
        assert g.propagate({0: 1.0}, 1, "w", damping=0.0) == {0: 1.0, 1: 0.0}
        # a node with no outgoing flow ends early and keeps its seed
        assert g.propagate({3: 0.5}, 10**18, "w") == {3: 0.5}

    def test_weight_errors(self):
        cases = [
            ("x", "is not a floating-point value"),
            (True, "is not a floating-point value"),
            ("nan", "must be finite and non-negative"),
            ("-inf", "must be finite and non-negative"),
            (-0.5, "must be finite and non-negative"),
            (-1, "must be finite and non-negative"),
        ]
        for value, tail in cases:
            g = build([(0, 1, "R"), (0, 1, "R")], props={1: {"p\"k": value}})
            with pytest.raises(ValueError) as e:
                g.propagate({0: 1.0}, 1, 'p"k')
            assert str(e.value) == f'edge 1 property "p\\"k" {tail}'
        # negative zero and numeric text are fine
        g = build([(0, 1, "R"), (0, 2, "R")], props={0: {"p": -0.0}, 1: {"p": " 1"}})
        with pytest.raises(ValueError, match="^edge 1 property"):
            g.propagate({0: 1.0}, 1, "p")
        g = build([(0, 1, "R"), (0, 2, "R")], props={0: {"p": -0.0}, 1: {"p": "1e-1"}})
        assert g.propagate({0: 1.0}, 1, "p") == {0: 1.0, 2: 0.1}

    def test_argument_checks(self):
        g = build([(0, 1, "R")])
        for damping in (-0.1, 1.0000001, float("nan"), float("inf")):
            with pytest.raises(ValueError, match=r"^damping must be between 0\.0 and 1\.0$"):
                g.propagate({5: -1.0}, 1, damping=damping)  # damping is checked first
        for p in (-0.5, float("inf"), float("nan")):
            with pytest.raises(ValueError, match="^seed probabilities must be finite and non-negative$"):
                g.propagate({0: p}, 1)
        # seeds are validated in the dict's order
        with pytest.raises(ValueError, match="^node 9 not found$"):
            g.propagate({0: 1.0, 9: -1.0, 1: -1.0}, 1)
        with pytest.raises(ValueError, match="^seed probabilities"):
            g.propagate({1: -1.0, 9: 1.0}, 1)
        assert g.propagate({0: -0.0, 1: 2}, 1) == {0: 0.0, 1: 2.0}
        assert g.propagate({True: 1.0}, 1) == {1: 1.0}

    def test_seed_conversion(self):
        g = build([(0, 1, "R"), (1, 2, "R")])
        with pytest.raises(TypeError, match="^argument 'seeds': 'list' object cannot be converted to 'PyDict'$"):
            g.propagate([(0, 1.0)], 1)
        with pytest.raises(TypeError, match="argument 'seeds'"):
            g.propagate({0.0: 1.0}, 1)
        with pytest.raises(TypeError, match="argument 'seeds'"):
            g.propagate({0: "1.0"}, 1)
        with pytest.raises(OverflowError):
            g.propagate({-1: 1.0}, 1)

        class Sneaky(dict):
            def items(self):
                return [(0, -1.0)]

            def __iter__(self):
                raise AssertionError("not used")

        assert g.propagate(Sneaky({1: 1.0}), 1) == {1: 1.0, 2: 1.0}

        seeds = {}

        class Key:
            """Hashes apart from 0 but names node 0; mutates the dict while converted."""

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

        class BadIndex:
            def __index__(self):
                return "zero"

        with pytest.raises(TypeError):
            g.propagate({BadIndex(): 1.0}, 1)


# ---------------------------------------------------------------- against a reference


def ref_adjacent(edges, node, outgoing, edge_type):
    for eid, (s, t, ty) in enumerate(edges):
        if edge_type is not None and ty != edge_type:
            continue
        if outgoing and s == node:
            yield eid, t
        elif not outgoing and t == node:
            yield eid, s


def ref_neighbors(edges, node, direction, edge_type):
    out, seen = [], set()
    sides = {"out": [True], "in": [False], "both": [True, False]}[direction]
    for outgoing in sides:
        for _, m in ref_adjacent(edges, node, outgoing, edge_type):
            if m not in seen:
                seen.add(m)
                out.append(m)
    return out


def ref_k_hop(edges, start, hops, direction, edge_type):
    visited, queue, result = {start}, deque([(start, 0)]), []
    while queue:
        n, d = queue.popleft()
        if d == hops:
            continue
        for m in ref_neighbors(edges, n, direction, edge_type):
            if m not in visited:
                visited.add(m)
                result.append(m)
                queue.append((m, d + 1))
    return result


def ref_frontier(edges, starts, steps, direction, edge_type):
    visited, layer = set(), []
    for s in starts:
        if s not in visited:
            visited.add(s)
            layer.append(s)
    for _ in range(steps):
        nxt = []
        for n in layer:
            for m in ref_neighbors(edges, n, direction, edge_type):
                if m not in visited:
                    visited.add(m)
                    nxt.append(m)
        layer = nxt
        if not layer:
            break
    return layer


def ref_propagate(edges, weights, seeds, steps, damping, edge_type):
    scores, current = dict(seeds), dict(seeds)
    for _ in range(steps):
        if not current:
            break
        nxt = {}
        for n in sorted(current):
            for eid, m in ref_adjacent(edges, n, True, edge_type):
                w = weights.get(eid, 1.0)
                if w == 0.0:
                    continue
                nxt[m] = nxt.get(m, 0.0) + damping * (current[n] * w)
        if not nxt:
            break
        for m, v in nxt.items():
            scores[m] = scores.get(m, 0.0) + v
        current = nxt
    return scores


def random_edges(rng, n, m):
    edges, props, weights = [], {}, {}
    for _ in range(m):
        s = rng.randrange(n)
        t = s if rng.random() < 0.05 else rng.randrange(n)
        edges.append((s, t, rng.choice("AAB")))
        i = len(edges) - 1
        kind = rng.randrange(4)
        if kind == 0:
            w = rng.choice([0, 1, 2])
            props[i] = {"probability": w}
        elif kind == 1:
            w = rng.choice([0.0, 0.3, 0.7, 1e-3])
            props[i] = {"probability": w}
        elif kind == 2:
            w = rng.choice([0.5, 0.125])
            props[i] = {"probability": repr(w), "other": True}
        else:
            w = 1.0
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
        steps, damping, ty = rng.randrange(5), rng.choice([1.0, 0.85, 0.3]), rng.choice(types)
        got = g.propagate(seeds, steps, damping=damping, edge_type=ty)
        want = ref_propagate(edges, weights, seeds, steps, damping, ty)
        assert got == want  # exact: the summation order is fixed
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
    all_weights = dict(weights)
    all_weights.update({len(edges) + i: w for i, w in more_weights.items()})
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
