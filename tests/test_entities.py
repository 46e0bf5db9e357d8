"""Creating nodes and edges, their validation, and the lookups over them."""
import math

import pytest

import _quillmere


def test_default_external_ids_and_dense_ids(g):
    assert g.add_node() == 0
    assert g.add_node() == 1
    assert [n.external_id for n in g.nodes()] == ["node:0", "node:1"]
    assert g.get_node_id("node:1") == 1
    assert g.get_node_id("missing") is None
    assert g.get_node_id("") is None


def test_default_external_id_collision_does_not_consume_the_id(g):
    g.add_node(external_id="node:1")
    with pytest.raises(ValueError, match='^external_id "node:1" already exists$'):
        g.add_node()
    assert g.add_node(external_id="x") == 1


@pytest.mark.parametrize("kwargs, message", [
    ({"labels": ["ok", ""]}, "label cannot be empty"),
    ({"properties": {"": 1}}, "property key cannot be empty"),
    ({"external_id": ""}, "external_id cannot be empty"),
    ({"external_id": 'q"t\n'}, 'external_id "q\\"t\\n" already exists'),
])
def test_node_validation_messages(g, kwargs, message):
    g.add_node(external_id='q"t\n')
    with pytest.raises(ValueError) as info:
        g.add_node(**kwargs)
    assert str(info.value) == message
    assert g.node_count() == 1


def test_node_checks_run_in_order(g):
    # An empty label is reported before an empty property key and a taken external id.
    g.add_node(external_id="a")
    with pytest.raises(ValueError, match="^label cannot be empty$"):
        g.add_node(external_id="a", labels=[""], properties={"": 1})
    with pytest.raises(ValueError, match="^property key cannot be empty$"):
        g.add_node(external_id="a", properties={"": 1})


def test_property_map_reports_first_bad_entry_in_key_order(g):
    g.add_node()
    # NaN cannot come from Python (the converter refuses it), so only empty keys reach the core.
    with pytest.raises(ValueError, match="^property key cannot be empty$"):
        g.add_node(properties={"b": 1, "": 2})


def test_node_batch_is_all_or_nothing(g):
    with pytest.raises(ValueError, match='^external_id "a" already exists$'):
        g.add_nodes([{"external_id": "a"}, {"external_id": "b"}, {"external_id": "a"}])
    assert g.node_count() == 0
    assert g.add_nodes([{"external_id": "a"}, {}, {"labels": ["L"]}]) == [0, 1, 2]
    assert g.add_nodes([]) == []
    assert g.get_node(1).external_id == "node:1"


def test_edge_batch_is_all_or_nothing(g):
    g.add_nodes([{}, {}])
    records = [{"source": 0, "target": 1, "edge_type": "e"},
               {"source": 1, "target": 0, "edge_type": "e"},
               {"source": 0, "target": 7, "edge_type": "e"}]
    with pytest.raises(ValueError, match="^node 7 not found$"):
        g.add_edges(records)
    assert g.edge_count() == 0
    assert g.add_edges(records[:2]) == [0, 1]
    assert g.add_edge(1, 1, "self") == 2
    assert g.add_edges([]) == []


@pytest.mark.parametrize("args, message", [
    ((0, 1, ""), "edge_type cannot be empty"),
    ((0, 1, "t", {"": 1}), "property key cannot be empty"),
    ((9, 8, "t"), "node 9 not found"),
    ((0, 8, "t"), "node 8 not found"),
    ((0, 2**64 - 1, "t"), "node 18446744073709551615 not found"),
])
def test_edge_validation_messages(g, args, message):
    g.add_nodes([{}, {}])
    with pytest.raises(ValueError) as info:
        g.add_edge(*args)
    assert str(info.value) == message
    assert g.edge_count() == 0


def test_self_loops_and_parallel_edges(g):
    g.add_nodes([{}, {}, {}, {}])
    assert g.add_edge(3, 3, "self") == 0
    assert g.add_edge(0, 1, "t") == 1
    assert g.add_edge(0, 1, "t") == 2
    e = g.get_edge(0)
    assert (e.source, e.target, e.edge_type) == (3, 3, "self")
    assert g.edges_by_type("t") == [1, 2]
    assert g.edge_ids() == [0, 1, 2]


def test_label_lookup(g):
    g.add_node(labels=["a", "a", "b"])
    g.add_node(labels=["b"])
    assert g.get_node(0).labels == ["a", "a", "b"]
    assert g.nodes_with_label("a") == [0]
    assert g.nodes_with_label("b") == [0, 1]
    assert g.nodes_with_label("missing") == []
    assert g.edges_by_type("missing") == []


def test_property_value_lookup_compares_kind_and_text(g):
    values = [2.0, 2, "2", True, 0.0, -0.0, 1, 1.0, "x", 10**18, -5]
    for v in values:
        g.add_node(properties={"k": v})
    assert g.nodes_with_property("k", 2.0) == [0]
    assert g.nodes_with_property("k", 2) == [1]
    assert g.nodes_with_property("k", "2") == [2]
    assert g.nodes_with_property("k", True) == [3]
    assert g.nodes_with_property("k", 0.0) == [4]
    assert g.nodes_with_property("k", -0.0) == [5]
    assert g.nodes_with_property("k", 1) == [6]
    assert g.nodes_with_property("k", 1.0) == [7]
    assert g.nodes_with_property("k", 10**18) == [9]
    assert g.nodes_with_property("k", False) == []
    assert g.nodes_with_property("k") == list(range(len(values)))
    assert g.nodes_with_property("other") == []
    assert g.nodes_with_property("other", 1) == []


def test_property_lookup_stays_exact_across_many_inserts(g):
    # Enough records to exercise the index's merge of late arrivals, with colliding strings.
    ids = g.add_nodes([{"properties": {"k": i % 97, "s": f"v{i % 13}"}} for i in range(20000)])
    assert g.nodes_with_property("k", 5) == [i for i in ids if i % 97 == 5]
    assert g.nodes_with_property("s", "v3") == [i for i in ids if i % 13 == 3]
    more = g.add_nodes([{"properties": {"k": 5}} for _ in range(10)])
    assert g.nodes_with_property("k", 5)[-10:] == more


def test_edge_property_lookup(g):
    g.add_nodes([{}, {}])
    g.add_edge(0, 1, "t", {"w": 0.5})
    g.add_edge(1, 0, "t", {"w": "0.5"})
    g.add_edge(1, 0, "t")
    assert g.edges_with_property("w") == [0, 1]
    assert g.edges_with_property("w", 0.5) == [0]
    assert g.edges_with_property("w", "0.5") == [1]


def test_float_values_round_trip_exactly(g):
    samples = [0.1, 1e23, 1e-7, -0.0, 5e-324, 1.7976931348623157e308, 2.5e-3, 100.0]
    for v in samples:
        g.add_node(properties={"f": v})
    got = [n.properties["f"] for n in g.nodes()]
    assert [math.copysign(1, x) for x in got] == [math.copysign(1, x) for x in samples]
    assert got == samples
    for i, v in enumerate(samples):
        assert g.nodes_with_property("f", v) == [i]


def test_counts_and_listing(g):
    assert (g.node_count(), g.edge_count(), g.nodes(), g.edges()) == (0, 0, [], [])
    g.add_nodes([{"external_id": "a"}, {"external_id": "b"}])
    g.add_edge(0, 1, "t", {"p": 1})
    assert [repr(n) for n in g.nodes()] == ['Node(id=0, external_id="a", labels=[])',
                                            'Node(id=1, external_id="b", labels=[])']
    assert [e.properties for e in g.edges()] == [{"p": 1}]
    assert g.node_ids() == [0, 1] and g.edge_ids() == [0]
