"""Node and Edge objects: detached, read-only, with their exact representations."""
import pytest


def test_repr_quotes_like_the_system(g):
    g.add_node()
    g.add_node(external_id='say "hi"\t\\', labels=["Person", 'A"b', "\x01\x7f"])
    g.add_edge(0, 1, 'kn"ows')
    assert repr(g.get_node(0)) == 'Node(id=0, external_id="node:0", labels=[])'
    assert repr(g.get_node(1)) == ('Node(id=1, external_id="say \\"hi\\"\\t\\\\", '
                                   'labels=["Person", "A\\"b", "\\u{1}\\u{7f}"])')
    assert repr(g.get_edge(0)) == 'Edge(id=0, source=0, target=1, edge_type="kn\\"ows")'
    assert "'" not in repr(g.get_node(1))


def test_records_are_detached_read_only_copies(g):
    g.add_node(labels=["a"], properties={"k": 1})
    g.add_edge(0, 0, "t")
    n, e = g.get_node(0), g.get_edge(0)
    n.labels.append("x")
    n.properties["k"] = 2
    assert n.labels == ["a"] and n.properties == {"k": 1}
    assert g.get_node(0) is not n and g.get_node(0).labels == ["a"]
    for obj, attr in [(n, "id"), (n, "labels"), (e, "source"), (e, "edge_type"), (n, "anything")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, 1)
    g.add_node()
    assert n.id == 0 and (e.id, e.source, e.target, e.edge_type, e.properties) == (0, 0, 0, "t", {})
