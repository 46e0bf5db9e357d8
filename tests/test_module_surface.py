"""The module's shape: attributes, classes, text signatures, thread binding, borrows."""
import gc
import inspect
import sys
import threading

import pytest

import _quillmere
from conftest import run_in_thread

CLASSES = ["Graph", "GraphSnapshot", "CypherResult", "GraphTransaction",
           "Node", "Edge", "Variable", "Factor", "Evidence", "Trace"]

# Text signatures as published; every registered method must match its entry.
GRAPH_SIGNATURES = {
    "add_node": "(external_id=None, labels=None, properties=None)",
    "add_edge": "(source, target, edge_type, properties=None)",
    "add_nodes": "(records)",
    "add_edges": "(records)",
    "get_node": "(node_id)",
    "get_edge": "(edge_id)",
    "get_node_id": "(external_id)",
    "nodes": "()", "edges": "()", "node_ids": "()", "edge_ids": "()",
    "node_count": "()", "edge_count": "()",
    "nodes_with_label": "(label)",
    "edges_by_type": "(edge_type)",
    "nodes_with_property": "(key, value=None)",
    "edges_with_property": "(key, value=None)",
    "neighbors": "(node_id, direction='out', edge_type=None)",
    "k_hop": "(start, hops, direction='out', edge_type=None)",
    "frontier": "(starts, steps, direction='out', edge_type=None)",
    "propagate": "(seeds, steps, edge_property='probability', damping=1.0, edge_type=None)",
    "refresh": "()", "compact": "()", "snapshot": "()",
    "bfs": "(start, direction='out', edge_type=None, max_depth=None)",
    "shortest_path": "(start, target, direction='out', edge_type=None, weight_property=None)",
    "connected_components": "(edge_type=None)",
    "pagerank": "(iterations=20, damping=0.85, tolerance=None, edge_type=None)",
    "random_walk": "(start, steps, direction='out', edge_type=None, seed=None)",
    "subgraph": "(nodes, edge_type=None)",
    "compute_batch": "(jobs)",
    "cypher": "(query, parameters=None)",
    "transaction": "(write=True)",
    "add_variable": "(domain, owner_id=None, prior=None, posterior=None, states=None)",
    "add_factor": "(input_variables, output_variables, function, parameters=None)",
    "add_factor_table": "(variables, values)",
    "add_cpd": "(variable_id, parent_variables, values)",
    "get_variable": "(variable_id)", "get_factor": "(factor_id)",
    "variable_count": "()", "factor_count": "()",
    "add_evidence": "(variable_id, payload=None)", "add_trace": "(payload=None)",
    "get_evidence": "(evidence_id)", "get_trace": "(trace_id)",
    "evidence_count": "()", "trace_count": "()",
    "posterior": "(variable_id)",
    "query": "(spec)", "query_schema": "()",
    "belief_propagation": "(query_variables=None, evidence=None, radius=2, max_iters=1000, tolerance=1e-06, "
                          "damping=0.2, persist=False)",
    "compile_active_subgraph": "(query_variables, evidence=None, radius=2, max_nodes=10000, max_factors=50000)",
    "local_propagate": "(seeds, radius=2, query_nodes=None, edge_type=None, edge_property='probability', "
                       "damping=1.0)",
}
SNAPSHOT_ABSENT = ["add_node", "add_edge", "add_nodes", "add_edges", "add_variable", "add_factor",
                   "add_factor_table", "add_cpd", "add_evidence", "add_trace", "refresh",
                   "compact", "snapshot", "transaction", "propagate", "posterior",
                   "local_propagate", "belief_propagation", "compile_active_subgraph"]


def graph_methods():
    return sorted(name for name, _ in inspect.getmembers(_quillmere.Graph)
                  if not name.startswith("_") and name != "open")


def test_module_adds_its_attributes_in_the_stated_order():
    assert _quillmere.__version__ == "0.1.0"
    added = [name for name in vars(_quillmere) if not name.startswith("__")]
    assert [name for name in added if name != "_query_dsl_schema"] == CLASSES
    assert all(isinstance(getattr(_quillmere, name), type) for name in CLASSES)
    assert isinstance(vars(_quillmere.Graph)["open"], staticmethod)


def test_every_method_has_its_published_signature():
    registered = graph_methods()
    assert registered, "Graph has no methods"
    for name in registered:
        assert name in GRAPH_SIGNATURES, f"unexpected Graph method {name}"
        unbound = inspect.signature(getattr(_quillmere.Graph, name))
        assert list(unbound.parameters)[0] == "self", name
        bound = getattr(_quillmere.Graph(), name)
        assert str(inspect.signature(bound)) == GRAPH_SIGNATURES[name]
    assert str(inspect.signature(_quillmere.Graph)) == "(path=None)"
    assert str(inspect.signature(_quillmere.Graph.open)) == "(path)"
    # A snapshot has every reader and no writer or lifecycle method.
    snap = _quillmere.Graph().snapshot()
    readers = [name for name in dir(snap) if not name.startswith("_")]
    assert sorted(readers) == sorted(set(GRAPH_SIGNATURES) - set(SNAPSHOT_ABSENT))
    for name in readers:
        assert str(inspect.signature(getattr(snap, name))) == GRAPH_SIGNATURES[name]


@pytest.mark.parametrize("call, exc, text", [
    (lambda g: g.get_node(), TypeError, "Graph.get_node() missing 1 required positional argument: 'node_id'"),
    (lambda g: g.get_node(1, 2), TypeError, "Graph.get_node() takes 1 positional argument but 2 were given"),
    (lambda g: g.get_node(x=1), TypeError, "Graph.get_node() got an unexpected keyword argument 'x'"),
    (lambda g: g.get_node(1, node_id=1), TypeError, "Graph.get_node() got multiple values for argument 'node_id'"),
    (lambda g: g.add_edge(), TypeError,
     "Graph.add_edge() missing 3 required positional arguments: 'source', 'target', and 'edge_type'"),
    (lambda g: g.get_node("1"), TypeError, "argument 'node_id': "),
    (lambda g: g.get_node(-1), OverflowError, ""),
    (lambda g: g.get_node(2**64), OverflowError, ""),
    (lambda g: g.get_edge(0), KeyError, "edge 0 not found"),
    (lambda g: g.add_node(labels="abc"), TypeError, "argument 'labels': Can't extract `str` to `Vec`"),
    (lambda g: g.add_node(labels=[1]), TypeError, "argument 'labels': "),
    (lambda g: g.add_node(external_id=3), TypeError, "argument 'external_id': "),
    (lambda g: g.add_node(properties=[1]), TypeError, "argument 'properties': "),
    (lambda g: g.nodes_with_label(None), TypeError, "argument 'label': "),
])
def test_argument_errors(g, call, exc, text):
    with pytest.raises(exc) as info:
        call(g)
    message = info.value.args[0] if info.value.args else ""
    assert message.startswith(text)
    assert g.node_count() == 0


def test_constructors():
    a, b = _quillmere.Graph(), _quillmere.Graph(None)
    a.add_node()
    assert (a.node_count(), b.node_count()) == (1, 0)
    with pytest.raises(TypeError, match="argument 'path'"):
        _quillmere.Graph(path=3)
    with pytest.raises(TypeError):
        _quillmere.Graph.open()
    with pytest.raises(TypeError):
        _quillmere.Graph.open(None)
    for name in ["GraphSnapshot", "Node", "Edge", "Variable", "Factor", "Evidence", "Trace"]:
        with pytest.raises(TypeError):
            getattr(_quillmere, name)()


def test_foreign_thread_use_is_refused_for_every_method(g):
    g.add_node()
    for name in graph_methods():
        method = getattr(g, name)
        required = [p for p in inspect.signature(method).parameters.values()
                    if p.default is inspect.Parameter.empty]
        _, err = run_in_thread(lambda: method(*[0] * len(required)))
        assert str(err) == "quillmere::Graph is unsendable, but sent to another thread", name
        assert not isinstance(err, Exception) and isinstance(err, BaseException)
    assert g.node_count() == 1


def test_snapshot_is_thread_bound_but_records_are_not(g):
    g.add_node(external_id="a")
    snap = g.snapshot()
    _, err = run_in_thread(snap.node_count)
    assert "quillmere::GraphSnapshot is unsendable, but sent to another thread" == str(err)
    node = g.get_node(0)
    result, err = run_in_thread(lambda: (node.external_id, repr(node)))
    assert err is None and result == ("a", 'Node(id=0, external_id="a", labels=[])')


def unraisable_during(fn):
    """The unraisable errors reported while fn runs and the garbage is collected."""
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = lambda info: seen.append(str(info.exc_value))
    try:
        fn()
        gc.collect()
    finally:
        sys.unraisablehook = old
    return seen


def test_reentrant_use_during_argument_conversion(g):
    g.add_node()

    class Reads:
        def __index__(self):
            return g.node_count()  # shared inside exclusive

    class Writes:
        def __index__(self):
            g.add_node()  # exclusive inside shared
            return 0

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        g.add_edge(Reads(), 0, "t")
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        g.get_node(Writes())
    # Shared inside shared is fine, and every borrow was released.
    class Nested:
        def __index__(self):
            return g.node_count() - 1
    assert g.get_node(Nested()).id == 0
    assert g.add_node() == 1


def test_binding_outlives_the_creating_thread():
    # A new thread may inherit a finished thread's ident; it must still be a stranger.
    made = {}

    def make():
        made["graph"] = _quillmere.Graph()
        made["snapshot"] = made["graph"].snapshot()

    t = threading.Thread(target=make)
    t.start()
    t.join()
    for name in ("graph", "snapshot"):
        _, err = run_in_thread(made[name].node_count)
        assert err is not None and "is unsendable, but sent to another thread" in str(err)
        del err
    # The caught errors' tracebacks kept the handles in a cycle until the collection. Dropped
    # on a stranger thread, they are leaked, not freed.
    assert sorted(unraisable_during(made.clear)) == [
        f"quillmere::{name} is unsendable, but is being dropped on another thread" for name in ("Graph", "GraphSnapshot")]
