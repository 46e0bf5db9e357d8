"""quillmere: an embedded property-graph database with a probabilistic-reasoning layer.

Start with a :class:`Graph`, in memory or on a SQLite file::

    import quillmere

    g = quillmere.Graph()                 # or quillmere.Graph("people.db")
    ann = g.add_node(external_id="ann", labels=["Person"], properties={"age": 42})
    bob = g.add_node(external_id="bob", labels=["Person"])
    g.add_edge(ann, bob, "knows")
    g.cypher("MATCH (p:Person)-[:knows]->(f) RETURN f.external_id AS friend").records

Where to look next:

- ``Graph``: nodes and edges, lookups, traversals (``neighbors``, ``k_hop``), algorithms
  (``bfs``, ``shortest_path``, ``pagerank``), path queries (``query``), Cypher (``cypher``,
  ``transaction``) and the probabilistic model (``add_variable``, ``add_cpd``,
  ``belief_propagation``).
- ``GraphSnapshot``: a frozen read-only view from ``Graph.snapshot()``.
- ``quillmere.io``: networkx graphs, pandas data frames and CSV files in and out (the
  optional extras ``quillmere[networkx]``, ``quillmere[pandas]``, ``quillmere[progress]``).
- ``python -m quillmere``: look into a database file, run Cypher, import CSV files.

The native classes live in ``_quillmere``; this package re-exports them unchanged.
"""
from _quillmere import (
    CypherResult,
    Edge,
    Evidence,
    Factor,
    Graph,
    GraphSnapshot,
    GraphTransaction,
    Node,
    Trace,
    Variable,
    __version__,
)

__all__ = [
    "Graph",
    "GraphSnapshot",
    "CypherResult",
    "GraphTransaction",
    "Node",
    "Edge",
    "Variable",
    "Factor",
    "Evidence",
    "Trace",
    "__version__",
]
