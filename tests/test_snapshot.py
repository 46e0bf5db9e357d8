"""What the generated model does not reach: errors a snapshot shares with its graph."""
import pytest

import _quillmere


def test_same_errors_as_graph():
    g = _quillmere.Graph()
    g.add_node("a")
    g.add_node("b")
    g.add_edge(0, 1, "KNOWS")
    s = g.snapshot()
    calls = [
        ("get_node", (9,), KeyError), ("get_edge", (9,), KeyError),
        ("neighbors", (9,), ValueError), ("neighbors", (0, "up"), ValueError),
        ("k_hop", (9, 1, "up"), ValueError), ("frontier", ([9], 1, "up"), ValueError),
        ("frontier", ("0", 1), TypeError), ("k_hop", (0, -1), OverflowError),
        ("get_node", ("x",), TypeError),
    ]
    for name, args, exc in calls:
        with pytest.raises(exc) as from_graph:
            getattr(g, name)(*args)
        with pytest.raises(exc) as from_snapshot:
            getattr(s, name)(*args)
        assert str(from_snapshot.value) == str(from_graph.value)


def test_argument_count_errors_name_the_class():
    s = _quillmere.Graph().snapshot()
    with pytest.raises(TypeError, match=r"^GraphSnapshot\.k_hop\(\) missing 1 required"):
        s.k_hop(0)
