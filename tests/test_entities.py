"""Creating nodes and edges: the exact refusals and what random insertion sequences in
test_model.py reach rarely (extreme floats, large indexes)."""
import math

import pytest


@pytest.mark.parametrize("method, args, message", [
    ("add_node", {"labels": ["ok", ""], "properties": {"": 1}, "external_id": "q\"t\n"}, "label cannot be empty"),
    ("add_node", {"properties": {"": 1}, "external_id": "q\"t\n"}, "property key cannot be empty"),
    ("add_node", {"external_id": ""}, "external_id cannot be empty"),
    ("add_node", {"external_id": 'q"t\n'}, 'external_id "q\\"t\\n" already exists'),
    ("add_node", {}, 'external_id "node:2" already exists'),
    ("add_edge", (0, 1, ""), "edge_type cannot be empty"),
    ("add_edge", (0, 1, "t", {"": 1}), "property key cannot be empty"),
    ("add_edge", (9, 8, "t"), "node 9 not found"),
    ("add_edge", (0, 2**64 - 1, "t"), "node 18446744073709551615 not found"),
])
def test_refusals_change_nothing(g, method, args, message):
    g.add_node(external_id='q"t\n')
    g.add_node(external_id="node:2")  # the next default id
    with pytest.raises(ValueError) as info:
        getattr(g, method)(*args) if isinstance(args, tuple) else getattr(g, method)(**args)
    assert str(info.value) == message
    assert (g.node_count(), g.edge_count()) == (2, 0)
    assert g.add_node(external_id="x") == 2



def test_property_lookup_stays_exact_across_many_inserts(g):
    # Enough records to exercise the index's merge of late arrivals, with colliding strings.
    ids = g.add_nodes([{"properties": {"k": i % 97, "s": f"v{i % 13}"}} for i in range(20000)])
    assert g.nodes_with_property("k", 5) == [i for i in ids if i % 97 == 5]
    assert g.nodes_with_property("s", "v3") == [i for i in ids if i % 13 == 3]
    more = g.add_nodes([{"properties": {"k": 5}} for _ in range(10)])
    assert g.nodes_with_property("k", 5)[-10:] == more


def test_float_values_round_trip_exactly(g):
    samples = [0.1, 1e23, 1e-7, -0.0, 5e-324, 1.7976931348623157e308, 2.5e-3, 100.0]
    for v in samples:
        g.add_node(properties={"f": v})
    got = [n.properties["f"] for n in g.nodes()]
    assert [math.copysign(1, x) for x in got] == [math.copysign(1, x) for x in samples]
    assert got == samples
    for i, v in enumerate(samples):
        assert g.nodes_with_property("f", v) == [i]
