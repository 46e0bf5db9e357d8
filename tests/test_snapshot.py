"""What the generated model does not reach: a snapshot outliving its graph, and errors."""
import pytest

import _quillmere


def sample_graph():
    g = _quillmere.Graph()
    a = g.add_node("a", ["Person"], {"k": 1, "name": "ann"})
    b = g.add_node("b", ["Person"], {"k": 1.0})
    c = g.add_node("c", [], {"k": "1"})
    g.add_edge(a, b, "KNOWS", {"probability": 0.5})
    g.add_edge(b, c, "KNOWS")
    g.add_edge(c, a, "LIKES", {"k": 1})
    return g, (a, b, c)


READS = [
    ("node_count", ()), ("edge_count", ()), ("node_ids", ()), ("edge_ids", ()),
    ("get_node_id", ("b",)), ("nodes_with_label", ("Person",)), ("edges_by_type", ("KNOWS",)),
    ("nodes_with_property", ("k", 1)), ("nodes_with_property", ("k",)),
    ("edges_with_property", ("k", 1)), ("neighbors", (0, "both")), ("k_hop", (0, 3)),
    ("frontier", ([0], 2, "in")),
]


def read_all(h):
    out = [getattr(h, name)(*args) for name, args in READS]
    out.append([repr(n) for n in h.nodes()])
    out.append([repr(e) for e in h.edges()])
    return out


class TestIsolation:
    def test_snapshot_outlives_its_graph(self):
        g, (a, b, c) = sample_graph()
        s = g.snapshot()
        expected = read_all(s)
        del g
        assert read_all(s) == expected


class TestSurface:
    def test_same_errors_as_graph(self):
        g, _ = sample_graph()
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

    def test_argument_count_errors_name_the_class(self):
        s = _quillmere.Graph().snapshot()
        with pytest.raises(TypeError, match=r"^GraphSnapshot\.k_hop\(\) missing 1 required"):
            s.k_hop(0)
