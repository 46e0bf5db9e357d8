"""Local propagation: damped, weighted sums along outgoing edges inside the seeds'
neighbourhood."""

import pytest

import _quillmere
from conftest import graph_of


def prob(p):
    return {"probability": p}


@pytest.mark.parametrize("n, edges, seeds, kw, want", [
    # a -> b (0.5) -> c (0.5)
    (3, [(0, 1, "t", prob(0.5)), (1, 2, "t", prob(0.5))], {0: 1.0}, {}, {0: 1.0, 1: 0.5, 2: 0.25}),
    # two paths meet: sums exceed 1
    (4, [(0, 1), (0, 2), (1, 3), (2, 3)], {0: 1.0}, {}, {0: 1.0, 1: 1.0, 2: 1.0, 3: 2.0}),
    # no weight property weighs 1.0; another property name can be chosen
    (2, [(0, 1, "t", {"w": 0.25})], {0: 2.0}, {}, {0: 2.0, 1: 2.0}),
    (2, [(0, 1, "t", {"w": 0.25})], {0: 2.0}, {"edge_property": "w"}, {0: 2.0, 1: 0.5}),
    (2, [(0, 1, "t", {"w": "0.25"})], {0: 2.0}, {"edge_property": "w"}, {0: 2.0, 1: 0.5}),
    # radius 0: the seeds; damping 0: the seeds plus zeros one step out
    (3, [(0, 1), (1, 2)], {0: 1.0}, {"radius": 0}, {0: 1.0}),
    (3, [(0, 1), (1, 2)], {0: 1.0}, {"damping": 0.0}, {0: 1.0, 1: 0.0, 2: 0.0}),
    # forward only; a zero weight still reports the node it reached
    (2, [(1, 0)], {0: 1.0}, {}, {0: 1.0}),
    (2, [(0, 1, "t", prob(0))], {0: 1.0}, {}, {0: 1.0, 1: 0.0}),
    # type filter; self-loop feeds the seed back
    (3, [(0, 1, "a"), (0, 2, "b")], {0: 1.0}, {"edge_type": "b"}, {0: 1.0, 2: 1.0}),
    (3, [(0, 1, "a")], {0: 1.0}, {"edge_type": "none"}, {0: 1.0}),
    (1, [(0, 0, "t", prob(0.5))], {0: 1.0}, {"radius": 2, "damping": 0.5}, {0: 1.0 + 0.25 + 0.0625}),
    # amounts from several seeds add up; a node is both seed and target
    (3, [(0, 2), (1, 2), (0, 1)], {0: 1.0, 1: 0.5}, {"radius": 1}, {0: 1.0, 1: 1.5, 2: 1.5}),
    # a negative zero seed is a zero; an int seed a float
    (2, [(0, 1)], {0: -0.0, 1: 1}, {}, {0: 0.0, 1: 1.0}),
])
def test_scores(n, edges, seeds, kw, want):
    g = graph_of(n, edges)
    got = g.local_propagate(seeds, **kw)
    assert got == pytest.approx(want) and list(got) == sorted(got)


def test_frontier_cycles_and_query_nodes():
    # The flow follows the frontier only: what arrived in a step moves on in the next one,
    # and a cycle brings amounts back to the seed after a full turn.
    g = graph_of(3, [(0, 1), (1, 2), (2, 0)])
    assert g.local_propagate({0: 1.0}, radius=3, damping=0.5) == {0: 1.125, 1: 0.5, 2: 0.25}
    # Query nodes widen the region but add nothing the flow can reach within the radius.
    h = graph_of(5, [(0, 1), (1, 2), (2, 3), (3, 4)])
    assert h.local_propagate({0: 1.0}) == h.local_propagate({0: 1.0}, query_nodes=[4, 3]) == {0: 1.0, 1: 1.0, 2: 1.0}


@pytest.mark.parametrize("args, kw, message", [
    ({0: -0.5}, {}, "seed probabilities must be finite and non-negative"),
    ({0: float("nan")}, {}, "seed probabilities must be finite and non-negative"),
    ({0: float("inf")}, {}, "seed probabilities must be finite and non-negative"),
    ({9: 1.0}, {}, "node 9 not found"),
    ({9: -1.0}, {}, "node 9 not found"),
    ({9: 1.0}, {"damping": 1.5}, "damping must be between 0.0 and 1.0"),
    ({0: 1.0}, {"damping": float("nan")}, "damping must be between 0.0 and 1.0"),
    ({0: 1.0}, {"query_nodes": [7]}, "node 7 not found"),
    ({0: 1.0}, {"edge_property": "bad"}, 'edge 0 property "bad" is not a floating-point value'),
    ({0: 1.0}, {"edge_property": "neg"}, 'edge 0 property "neg" must be finite and non-negative'),
    ([(0, 1.0)], {}, (TypeError, "argument 'seeds': 'list' object cannot be converted to 'PyDict'")),
    ({0: "1.0"}, {}, (TypeError, "argument 'seeds': must be real number, not str")),
    ({"0": 1.0}, {}, (TypeError, "argument 'seeds': 'str' object cannot be interpreted as an integer")),
    ({0: 1.0}, {"query_nodes": "0"}, (TypeError, "argument 'query_nodes': Can't extract `str` to `Vec`")),
])
def test_errors(args, kw, message):
    exc, text = message if isinstance(message, tuple) else (ValueError, message)
    g = graph_of(2, [(0, 1, "t", {"bad": "x", "neg": -1.0})])
    with pytest.raises(exc) as e:
        g.local_propagate(args, **kw)
    assert str(e.value) == text
