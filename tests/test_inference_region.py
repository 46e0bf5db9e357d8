"""The active region: seeds, the graph walk, owned variables, one factor layer, limits,
and the warnings belief propagation derives from it."""

import pytest

import _quillmere
from conftest import graph_of


def region(g, query, **kw):
    return g.compile_active_subgraph(query, **kw)


def test_everything_without_seeds_and_a_lone_query_variable():
    g = _quillmere.Graph()
    a, b, c = (g.add_variable("binary") for _ in range(3))
    f = g.add_factor_table([a, b], [1.0, 2.0, 3.0, 4.0])
    g.add_factor([c], [], "note")  # no table: never active
    assert region(g, []) == {"variables": [a, b, c], "factors": [f], "graph_nodes": [],
                             "boundary_variables": [], "truncated": False}
    assert list(region(g, [])) == ["variables", "factors", "graph_nodes", "boundary_variables", "truncated"]
    assert region(g, [c]) == {"variables": [c], "factors": [], "graph_nodes": [], "boundary_variables": [],
                              "truncated": False}


def test_owner_nodes_radius_and_owned_variables():
    # 0 -> 1 <- 2 -> 3; node 1 owns two variables, node 3 one.
    g = graph_of(4, [(0, 1), (2, 1), (2, 3)])
    v0 = g.add_variable("binary", owner_id=0)
    v1a = g.add_variable("binary", owner_id=1)
    v1b = g.add_variable("binary", owner_id=1)
    v3 = g.add_variable("binary", owner_id=3)
    assert region(g, [v1a], radius=0) == {"variables": [v1a, v1b], "factors": [], "graph_nodes": [1],
                                          "boundary_variables": [], "truncated": False}
    # Both edge directions count.
    r = region(g, [v1a], radius=1)
    assert r["graph_nodes"] == [0, 1, 2] and r["variables"] == [v0, v1a, v1b]
    r = region(g, [v1a], radius=2)
    assert r["graph_nodes"] == [0, 1, 2, 3] and r["variables"] == [v0, v1a, v1b, v3]
    # Evidence seeds like a query; a huge radius simply ends with the graph.
    assert region(g, [], evidence={v3: "true"}, radius=2**64 - 1)["graph_nodes"] == [0, 1, 2, 3]


def test_one_factor_layer_and_boundary_variables():
    g = graph_of(3, [])
    gp = g.add_variable("binary", owner_id=2)
    p = g.add_variable("binary", owner_id=1)
    c = g.add_variable("binary", owner_id=0)
    f1 = g.add_cpd(c, [p], [0.5, 0.5, 0.1, 0.9])
    g.add_cpd(p, [gp], [0.5, 0.5, 0.1, 0.9])
    # P joins through C's CPD and brings its owner node, but not its own CPD.
    assert region(g, [c], radius=0) == {"variables": [p, c], "factors": [f1], "graph_nodes": [0, 1],
                                        "boundary_variables": [], "truncated": False}
    # Node 1 already reached: P is in the region before the factor layer.
    g.add_edge(0, 1, "t")
    r = region(g, [c], radius=1)
    assert r["variables"] == [gp, p, c] and r["factors"] == [f1, f1 + 1] and r["graph_nodes"] == [0, 1, 2]


def test_limits_set_truncated():
    g = graph_of(3, [(0, 1), (0, 2)])
    a = g.add_variable("binary", owner_id=0)
    b = g.add_variable("binary", owner_id=2)
    f = g.add_factor_table([a, b], [1.0, 2.0, 3.0, 4.0])
    assert region(g, [a], max_nodes=0) == {"variables": [a, b], "factors": [f], "graph_nodes": [],
                                           "boundary_variables": [a, b], "truncated": True}
    r = region(g, [a], max_nodes=2)
    assert r["graph_nodes"] == [0, 1] and r["boundary_variables"] == [b] and r["truncated"] is True
    assert region(g, [a], radius=0, max_nodes=2)["truncated"] is False
    assert region(g, [a], max_factors=0) == {"variables": [a, b], "factors": [], "graph_nodes": [0, 1, 2],
                                             "boundary_variables": [], "truncated": True}


@pytest.mark.parametrize("call, exc, message", [
    (lambda g: g.compile_active_subgraph([9]), ValueError, "variable 9 not found"),
    (lambda g: g.compile_active_subgraph([0], evidence={0: "maybe"}), ValueError, 'state "maybe" not found for variable 0'),
    (lambda g: g.compile_active_subgraph("0"), TypeError, "argument 'query_variables': Can't extract `str` to `Vec`"),
    (lambda g: g.compile_active_subgraph(), TypeError,
     "Graph.compile_active_subgraph() missing 1 required positional argument: 'query_variables'"),
    (lambda g: g.compile_active_subgraph([], radius=-1), OverflowError, "can't convert negative int to unsigned"),
])
def test_errors(call, exc, message):
    g = _quillmere.Graph()
    g.add_variable("binary")
    with pytest.raises(exc) as e:
        call(g)
    assert str(e.value) == message


def test_region_warnings_in_belief_propagation():
    # A star of 10001 leaves around the owner of the asked-about variable: the walk stops at
    # 10000 nodes.
    n = 10_002
    g = graph_of(n, [(0, i) for i in range(1, n)])
    v = g.add_variable("binary", owner_id=0)
    r = g.belief_propagation([v], radius=1)
    assert r["active"]["truncated"] is True and len(r["active"]["graph_nodes"]) == 10_000
    assert r["warnings"] == ["active subgraph was truncated by max_nodes or max_factors limits",
                             "large active subgraph: 1 variables, 0 factors, 10000 graph nodes"]
    assert r["diagnostics"]["truncated"] is True and r["diagnostics"]["active_graph_nodes"] == 10_000

    g = _quillmere.Graph()
    for _ in range(1000):
        g.add_variable("binary")
    assert g.belief_propagation()["warnings"] == []
    g.add_variable("binary")
    assert g.belief_propagation()["warnings"] == ["large active subgraph: 1001 variables, 0 factors, 0 graph nodes"]
