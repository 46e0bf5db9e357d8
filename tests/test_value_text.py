"""Stored value texts: the canonical text of every kind, read back from the database file."""
from hypothesis import given, settings, strategies as st

from _quillmere import Graph
from store_helpers import canonical, rows

TEXTS = "SELECT value_type, value_text FROM node_properties ORDER BY node_id"


def test_examples(db):
    g = Graph(db)
    values = [1.0, 1.5, 0.1, 1e21, 1e-7, -0.0, 1e23, 2.5e-3, 100.0, -5, 0, -2**63, 2**63 - 1,
              True, False, "  x\n", ""]
    g.add_nodes([{"properties": {"v": v}} for v in values])
    assert rows(db, TEXTS) == [
        ("float", "1"), ("float", "1.5"), ("float", "0.1"), ("float", "1000000000000000000000"),
        ("float", "0.0000001"), ("float", "-0"), ("float", "100000000000000000000000"),
        ("float", "0.0025"), ("float", "100"), ("int", "-5"), ("int", "0"),
        ("int", "-9223372036854775808"), ("int", "9223372036854775807"),
        ("bool", "true"), ("bool", "false"), ("string", "  x\n"), ("string", ""),
    ]


@settings(max_examples=40, deadline=None)
@given(st.lists(st.floats(allow_nan=False, allow_infinity=False), min_size=1, max_size=200))
def test_float_text_is_shortest_positional_and_reads_back(tmp_path_factory, xs):
    path = str(tmp_path_factory.mktemp("f") / "f.db")
    Graph(path).add_nodes([{"properties": {"f": x}} for x in xs])
    assert rows(path, TEXTS) == [canonical(x) for x in xs]
    assert [n.properties["f"] for n in Graph(path).nodes()] == xs
