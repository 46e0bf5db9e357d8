"""Stored value texts: the canonical text of every kind, read back from the database file."""
import sqlite3
from decimal import Decimal

from hypothesis import given, settings, strategies as st

from _quillmere import Graph


def positional(x: float) -> str:
    """Shortest round-trip digits, written without an exponent, no '.0' for integral values."""
    text = format(Decimal(repr(x)), "f")
    return text[:-2] if text.endswith(".0") else text


def stored_texts(path):
    with sqlite3.connect(path) as db:
        return db.execute(
            "SELECT value_type, value_text FROM node_properties ORDER BY node_id").fetchall()


def test_examples(tmp_path):
    path = str(tmp_path / "v.db")
    g = Graph(path)
    values = [1.0, 1.5, 0.1, 1e21, 1e-7, -0.0, 1e23, 2.5e-3, 100.0, -5, 0, -2**63, 2**63 - 1,
              True, False, "  x\n", ""]
    g.add_nodes([{"properties": {"v": v}} for v in values])
    assert stored_texts(path) == [
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
    g = Graph(path)
    g.add_nodes([{"properties": {"f": x}} for x in xs])
    texts = [t for _, t in stored_texts(path)]
    assert texts == [positional(x) for x in xs]
    assert [float(t) for t in texts] == xs
    reopened = Graph(path)
    assert [n.properties["f"] for n in reopened.nodes()] == xs
