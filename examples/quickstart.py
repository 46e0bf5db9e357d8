"""A tour of quillmere: the same small graph in memory and on a SQLite file."""
import os
import tempfile

from _quillmere import Graph


def build(g):
    ann = g.add_node(external_id="ann", labels=["Person"], properties={"age": 42})
    bob = g.add_node(external_id="bob", labels=["Person"], properties={"age": 35})
    acme = g.add_node(external_id="acme", labels=["Company"])
    g.add_edges([
        {"source": ann, "target": bob, "edge_type": "knows", "properties": {"since": 2019}},
        {"source": ann, "target": acme, "edge_type": "works_at"},
        {"source": bob, "target": acme, "edge_type": "works_at", "properties": {"weight": 0.5}},
    ])
    return ann


def tour(g, title):
    print(f"== {title}")
    ann = build(g)
    print("nodes:", g.node_count(), "edges:", g.edge_count())
    print("ann:", g.get_node(ann), g.get_node(ann).properties)
    print("people:", g.nodes_with_label("Person"))
    print("aged 35:", g.nodes_with_property("age", 35))
    print("works_at edges:", [repr(e) for e in (g.get_edge(i) for i in g.edges_by_type("works_at"))])
    snap = g.snapshot()
    g.add_node(external_id="late")
    print("snapshot keeps", snap.node_count(), "nodes while the graph has", g.node_count())


tour(Graph(), "in memory")

with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "people.db")
    try:
        tour(Graph(path), f"on {path}")
    except RuntimeError as exc:
        print("SQLite-backed graphs are not available yet:", exc)
