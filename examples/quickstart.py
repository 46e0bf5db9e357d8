"""A tour of quillmere: the same small graph in memory and on a SQLite file."""
import os
import tempfile

from quillmere import Graph


def build(g: Graph) -> int:
    ann = g.add_node(external_id="ann", labels=["Person"], properties={"age": 42})
    bob = g.add_node(external_id="bob", labels=["Person"], properties={"age": 35})
    cat = g.add_node(external_id="cat", labels=["Person"], properties={"age": 29})
    acme = g.add_node(external_id="acme", labels=["Company"])
    g.add_edges([
        {"source": ann, "target": bob, "edge_type": "knows", "properties": {"weight": 0.9}},
        {"source": bob, "target": cat, "edge_type": "knows", "properties": {"weight": 0.5}},
        {"source": ann, "target": acme, "edge_type": "works_at"},
        {"source": bob, "target": acme, "edge_type": "works_at"},
    ])
    return ann


def tour(g: Graph, title: str) -> None:
    print(f"== {title}")
    ann = build(g)
    print("nodes:", g.node_count(), "edges:", g.edge_count())
    print("ann:", g.get_node(ann), g.get_node(ann).properties)
    print("people:", g.nodes_with_label("Person"), "aged 35:", g.nodes_with_property("age", 35))
    print("works_at:", [repr(g.get_edge(i)) for i in g.edges_by_type("works_at")])
    # Traversals
    print("ann's neighbours:", g.neighbors(ann), "within 2 hops:", g.k_hop(ann, 2, edge_type="knows"))
    print("exactly 2 steps out:", g.frontier([ann], 2))
    print("trust flowing from ann:", g.propagate({ann: 1.0}, 2, edge_property="weight"))
    # Algorithms
    print("bfs:", g.bfs(ann), "components:", g.connected_components())
    cat = g.get_node_id("cat")
    assert cat is not None
    print("shortest ann->cat by weight:", g.shortest_path(ann, cat, weight_property="weight"))
    print("pagerank:", {k: round(v, 3) for k, v in g.pagerank().items()})
    # A path query: who does a Person over 30 know, and through which edge?
    over_30 = {"node": "p", "labels": ["Person"], "where": [{"property": "age", "op": "gt", "value": 30}]}
    rows = g.query({"match": [over_30, {"edge": "k", "type": "knows"}, {"node": "friend"}]})
    print("people over 30 and whom they know:", rows)
    # The same question in Cypher, then writes: one statement, and a transaction whose runs
    # commit together (an exception inside the block would discard them all).
    r = g.cypher("MATCH (p:Person)-[k:knows]->(f) WHERE p.age > $min RETURN p.external_id AS who, f.external_id AS "
                 "friend ORDER BY who", {"min": 30})
    print("cypher:", r, r.records)
    print("create:", g.cypher("CREATE (d:Person {external_id: 'dora', age: 28})-[:knows]->(e:Person) RETURN d").summary)
    with g.transaction() as tx:
        tx.run("CREATE (t:Team {name: 'graph'})")
        print("inside the transaction:", tx.run("MATCH (t:Team) RETURN count(*)").records,
              "outside:", g.cypher("MATCH (t:Team) RETURN count(*)").records)
    print("after commit:", g.cypher("MATCH (t:Team) RETURN t.name").records)
    # A small model beside the graph: does ann trust bob, given what we believe of each?
    likes = g.add_variable("binary", owner_id=ann, prior={"p": 0.7})
    trusts = g.add_variable("trust", states=["low", "high"], owner_id=g.get_node_id("bob"))
    g.add_cpd(trusts, [likes], [0.8, 0.2, 0.3, 0.7])  # P(trust | likes=false), then likes=true
    g.add_evidence(likes, {"state": "true"})
    print("model:", g.variable_count(), "variables,", g.factor_count(), "factor:", g.get_factor(0).function)
    print("before any inference, likes:", g.posterior(likes), "trust:", g.posterior(trusts))
    # A frozen copy keeps answering while the graph moves on.
    snap = g.snapshot()
    g.add_node(external_id="late")
    print("snapshot keeps", snap.node_count(), "nodes while the graph has", g.node_count())


tour(Graph(), "in memory")

with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "people.db")
    tour(Graph(path), f"on {path}")
    # Everything is on disk: a second handle sees it, and a stale one must refresh first.
    reader, writer = Graph.open(path), Graph.open(path)
    writer.add_node(external_id="dave")
    try:
        reader.add_node(external_id="erin")
    except ValueError as exc:
        print("stale handle:", exc)
    reader.refresh()
    print("after refresh the reader sees", reader.node_count(), "nodes; dave is", reader.get_node_id("dave"))


# Inference: a rain -> wet-grass model owned by two nodes, evidence, and beliefs.
g = Graph()
garden, lawn = g.add_node(external_id="garden"), g.add_node(external_id="lawn")
g.add_edge(garden, lawn, "near")
rain = g.add_variable("binary", owner_id=garden, prior={"p": 0.2})
wet = g.add_variable("binary", owner_id=lawn)
g.add_cpd(wet, [rain], [0.9, 0.1, 0.1, 0.9])  # P(wet | rain=false), P(wet | rain=true)
print("region around rain:", g.compile_active_subgraph([rain], radius=1))
result = g.belief_propagation([rain], evidence={wet: "true"}, persist=True)
print("P(rain | wet lawn):", result["beliefs"][rain], "after", result["messages_updated"], "updates")
trace_id = result["trace_id"]
assert trace_id is not None  # persist=True always records a trace
print("stored as the posterior:", g.posterior(rain), "trace:", g.get_trace(trace_id).payload["kind"])
print("flow from the garden:", g.local_propagate({garden: 1.0}, radius=1))
