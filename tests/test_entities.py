"""Creating nodes and edges: the exact refusals and what random insertion sequences in
test_model.py reach rarely (extreme floats, large indexes)."""
import math

import pytest


# The insertion model in test_model.py pins every other refusal, in its order, on nodes and edges.
def test_a_taken_external_id_is_quoted_in_the_refusal(g):
    g.add_node(external_id='q"t\n')
    with pytest.raises(ValueError) as info:
        g.add_node(external_id='q"t\n')
    assert str(info.value) == 'external_id "q\\"t\\n" already exists'
    assert g.node_count() == 1 and g.add_node(external_id="x") == 1


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
