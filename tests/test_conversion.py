"""Python values in and out: property values, property dicts, record dictionaries."""
from functools import reduce

import pytest


def test_subclasses_convert_as_their_base(g):
    class MyInt(int):
        pass

    class MyStr(str):
        def __eq__(self, other):
            raise AssertionError("no Python code may run while converting")
        __hash__ = str.__hash__

    class MyDict(dict):
        def items(self):
            raise AssertionError("the dict's own storage is read")

    g.add_node(properties=MyDict({MyStr("k"): MyInt(7), "f": float(2)}))
    assert g.get_node(0).properties == {"f": 2.0, "k": 7}


# The insertion model checks these values on add_node and add_nodes; a lookup converts its
# value on a path of its own.
@pytest.mark.parametrize("value, exc, message", [
    (float("inf"), ValueError, "float property values must be finite"),
    (b"x", ValueError, "property values must be str, int, float, or bool"),
    ({"a": {"b": 1}}, ValueError, "property values must be str, int, float, or bool"),
    # Refused at the top, never walked: a converter that descended would exhaust the C stack.
    (reduce(lambda v, _: [v], range(100000), []), ValueError, "property values must be str, int, float, or bool"),
    (2**63, OverflowError, None),
    (-2**63 - 1, OverflowError, None),
])
def test_bad_property_values(g, value, exc, message):
    for call in (lambda: g.add_node(properties={"k": value}), lambda: g.nodes_with_property("k", value)):
        with pytest.raises(exc) as info:
            call()
        if message:
            assert str(info.value) == message
    assert g.node_count() == 0


# Rows the insertion model (test_model.py) never generates; it pins every other record message.
NODE_RECORD_ERRORS = [
    (({"external_id": "a"},), "add_nodes records must be a list"),
    ([{"labels": 7}], 'optional record field "labels" must be a list of strings'),
    # The unknown field is reported before a bad value of an allowed one.
    ([{"labels": 7, "zzz": 1}], 'node record 0 has unknown field "zzz"'),
]


@pytest.mark.parametrize("records, message", NODE_RECORD_ERRORS)
def test_node_record_errors(g, records, message):
    with pytest.raises(ValueError) as info:
        g.add_nodes(records)
    assert str(info.value) == message
    assert g.node_count() == 0


EDGE_RECORD_ERRORS = [
    ("nope", "add_edges records must be a list"),
    ([{"target": 0, "edge_type": "knows"}], 'record 0 missing "source"'),
    ([{"source": None, "target": 0, "edge_type": "k"}], 'record 0 field "source" must be an int'),
    ([{"source": 0, "target": 1, "edge_type": 5}], 'record 0 field "edge_type" must be a string'),
]


@pytest.mark.parametrize("records, message", EDGE_RECORD_ERRORS)
def test_edge_record_errors(g, records, message):
    g.add_nodes([{}, {}])
    with pytest.raises(ValueError) as info:
        g.add_edges(records)
    assert str(info.value) == message
    assert g.edge_count() == 0


def test_record_labels_may_be_any_sequence(g):
    assert g.add_nodes([{"labels": ("a", "b")}]) == [0]
    assert g.get_node(0).labels == ["a", "b"]


def test_hostile_index_mutating_the_batch(g):
    g.add_nodes([{}, {}])
    records = []

    class Evil:
        def __index__(self):
            records.clear()  # the list shrinks while it is being read
            return 0

    records.extend([{"source": Evil(), "target": 1, "edge_type": "e"},
                    {"source": 0, "target": 1, "edge_type": "e"}])
    assert g.add_edges(records) == [0]

    class Raises:
        def __index__(self):
            raise ZeroDivisionError("boom")

    with pytest.raises(ValueError, match='field "source" must be an int'):
        g.add_edges([{"source": Raises(), "target": 1, "edge_type": "e"}])
    with pytest.raises(ZeroDivisionError):
        g.get_node(Raises())
    assert g.edge_count() == 1


def test_hostile_label_sequence(g):
    class Seq:
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i == 1:
                raise RuntimeError("nope")
            return "x"

    with pytest.raises(RuntimeError, match="nope"):  # not a type mismatch: propagates as it is
        g.add_node(labels=Seq())
    with pytest.raises(ValueError, match='"labels" must be a list of strings'):
        g.add_nodes([{"labels": Seq()}])
    assert g.node_count() == 0


def test_surrogates_are_refused_not_mangled(g):
    with pytest.raises(UnicodeEncodeError):
        g.add_node(external_id="\ud800")
    with pytest.raises(UnicodeEncodeError):
        g.add_nodes([{"properties": {"k": "\udfff"}}])
    assert g.node_count() == 0


def test_large_and_repeated_property_keys(g):
    # A dict far larger than usual, its keys in descending order: stored complete and sorted.
    n = 20000
    props = {f"k{n - i:06d}": i for i in range(n)}
    g.add_node(properties=props)
    got = g.get_node(0).properties
    assert got == props and list(got) == sorted(props)
    assert g.nodes_with_property("k000001", n - 1) == [0]

