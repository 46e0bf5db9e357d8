"""Property maps of large batches: key order, repeated keys, changing key sets and key
objects that die or change while a batch is converted."""
import pytest


class Twin(str):
    """A key whose text equals another key's but which a dict keeps apart."""

    def __eq__(self, other):
        return self is other

    def __hash__(self):
        return id(self)


def test_maps_in_a_batch_match_their_dicts_whatever_the_key_order(g):
    shapes = [
        {"b": 1, "a": 2.5},
        {"b": 3, "a": -0.0},           # same keys, same order as the record before
        {"a": "x", "b": True},         # same keys, other order
        {"c": 1, "b": 2, "a": 3},
        {},
        {"only": 2**63 - 1},
        {"z": -2**63, "é": "ü"},
        {str(i): i for i in range(40, 0, -1)},  # past the small-map sort
        {"b": 2**40, "a": -(2**40)},
    ]
    records = [{"properties": shapes[i % len(shapes)]} for i in range(3 * len(shapes))]
    ids = g.add_nodes(records)
    for i, node_id in enumerate(ids):
        props = g.get_node(node_id).properties
        assert props == records[i]["properties"]
        assert list(props) == sorted(props)
    assert g.nodes_with_property("a", 3) == [ids[3], ids[12], ids[21]]
    assert g.nodes_with_property("a", -0.0) == [ids[1], ids[10], ids[19]]
    assert g.nodes_with_property("b", 2**40) == [ids[8], ids[17], ids[26]]
    edge_ids = g.add_edges([{"source": 0, "target": 1, "edge_type": "t", **r} for r in records])
    assert [g.get_edge(e).properties for e in edge_ids] == [r["properties"] for r in records]


def test_keys_with_equal_text_keep_the_later_value(g):
    # Equal texts in one dict collapse to the later entry, also when the next record has
    # the same key objects in the same order (its order is reused, not recomputed).
    twin = Twin("k")
    records = [{"properties": {"k": 1, twin: 2}}, {"properties": {"k": 3, twin: 4}},
               {"properties": {twin: 5, "k": 6}}, {"properties": {"j": 0, twin: 7, "k": 8}}]
    g.add_nodes(records)
    assert [n.properties for n in g.nodes()] == [{"k": 2}, {"k": 4}, {"k": 6}, {"j": 0, "k": 8}]
    assert g.nodes_with_property("k", 1) == [] and g.nodes_with_property("k", 8) == [3]
    # Past the small-map sort too, and through add_node.
    g.add_node(properties={Twin(f"k{i % 40:02d}"): i for i in range(80)})
    assert g.get_node(4).properties == {f"k{j:02d}": 40 + j for j in range(40)}


def test_key_objects_freed_during_conversion_do_not_alias_later_keys(g):
    # Converting an int field may run Python code that drops the only reference to an
    # earlier record's keys; a new key object may then take a freed key's address.
    records = []

    class Dropper(int):
        def __index__(self):
            for r in records[:-1]:
                r["properties"].clear()
            return 0

    for i in range(200):
        records.append({"source": 0, "target": 0, "edge_type": "t",
                        "properties": {f"key{i}": i, f"other{i % 3}": -i}})
        if i % 10 == 9:
            records[-1]["source"] = Dropper(0)
    expected = [dict(r["properties"]) for r in records]
    g.add_node()
    ids = g.add_edges(records)
    # Each record keeps what its dict held when it was converted.
    assert [g.get_edge(e).properties for e in ids] == expected


# Empty edge types among these orders are left to the insertion model in test_model.py.
@pytest.mark.parametrize("records, message", [
    # Checks run record by record: a missing node before an empty key of a later record...
    ([{"source": 0, "target": 9, "edge_type": "t"}, {"source": 0, "target": 0, "edge_type": "t",
                                                      "properties": {"": 1}}],
     "node 9 not found"),
    # ...and an empty key before a later record's missing node.
    ([{"source": 0, "target": 0, "edge_type": "t", "properties": {"b": 1, "": 1}},
      {"source": 0, "target": 9, "edge_type": "t"}],
     "property key cannot be empty"),
    ([{"source": True, "target": 0, "edge_type": "t"}], "node 1 not found"),
])
def test_batch_errors_keep_their_order_and_leave_nothing(g, records, message):
    g.add_node()
    with pytest.raises(ValueError) as info:
        g.add_edges(records)
    assert str(info.value) == message
    assert g.edge_count() == 0 and g.edges_with_property("b") == []


def test_edge_types_of_a_batch_keep_each_records_type(g):
    g.add_nodes([{}, {}])
    built = "".join(["ro", "ad"])  # equal text, a different object than the literal
    types = ["road", "rail", "road", built, Twin("rail"), "é", "road"]
    ids = g.add_edges([{"source": 0, "target": 1, "edge_type": t} for t in types])
    assert [g.get_edge(e).edge_type for e in ids] == [str(t) for t in types]
    assert g.edges_by_type("road") == [ids[0], ids[2], ids[3], ids[6]]
    assert g.edges_by_type("rail") == [ids[1], ids[4]]
    assert g.edges_by_type("é") == [ids[5]]
    # A later batch meets the types again under the same names.
    more = g.add_edges([{"source": 1, "target": 0, "edge_type": t} for t in ("rail", "air")])
    assert g.edges_by_type("rail") == [ids[1], ids[4], more[0]]
    assert g.edges_by_type("air") == [more[1]]
