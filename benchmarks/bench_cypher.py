"""Cypher statements on a seeded graph of its own (labels Person, Company or City; properties
id, name and age; edge types KNOWS and WORKS_AT). No other engine of the kind is run: each
answer is checked against a plain-Python loop over lists and a networkx loop doing the same
thing, and those loops are timed beside ours. Statements:
point `MATCH (n:Person {id: $id}) RETURN n.name`;
hop1 `MATCH (a:Person {id: $id})-[:KNOWS]->(b) RETURN b.id`;
hop2 the same over two KNOWS hops; hop2 where: with `WHERE c.age > 50`;
count `MATCH (n:Person) RETURN count(*)`;
top10 `MATCH (n:Person) RETURN n.id ORDER BY n.age DESC, n.id LIMIT 10`."""
import random
from functools import lru_cache

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "cypher"
SEED = 20261207
LABELS = ["Person", "Company", "City"]
STATEMENTS = {
    "point": "MATCH (n:Person {id: $id}) RETURN n.name",
    "hop1": "MATCH (a:Person {id: $id})-[:KNOWS]->(b) RETURN b.id",
    "hop2": "MATCH (a:Person {id: $id})-[:KNOWS]->(b)-[:KNOWS]->(c) RETURN c.id",
    "hop2 where": "MATCH (a:Person {id: $id})-[:KNOWS]->(b)-[:KNOWS]->(c) WHERE c.age > 50 RETURN c.id",
    "count": "MATCH (n:Person) RETURN count(*)",
    "top10": "MATCH (n:Person) RETURN n.id ORDER BY n.age DESC, n.id LIMIT 10",
}


@lru_cache(maxsize=None)
def data(size):
    p = core.SIZES[size]
    n, m = p["nodes"], p["edges"]
    rng = random.Random(SEED)
    labels = [LABELS[0] if rng.random() < 0.6 else rng.choice(LABELS[1:]) for _ in range(n)]
    ages = [rng.randrange(100) for _ in range(n)]
    edges = [(rng.randrange(n), rng.randrange(n), "KNOWS" if rng.random() < 0.8 else "WORKS_AT") for _ in range(m)]
    people = [i for i in range(n) if labels[i] == "Person"]
    anchors = [rng.choice(people) for _ in range(p["anchors"])]
    return labels, ages, edges, people, anchors


def prepare(peer, size):
    labels, ages, edges, people, anchors = data(size)
    n = len(labels)
    ctx = {"ages": ages, "people": people, "anchors": anchors, "labels": labels}
    if peer == "ours":
        import _quillmere
        g = _quillmere.Graph()
        for lo in range(0, n, core.BATCH):
            g.add_nodes([{"external_id": f"n{i}", "labels": [labels[i]],
                          "properties": {"id": i, "name": f"n{i}", "age": ages[i]}}
                         for i in range(lo, min(n, lo + core.BATCH))])
        for lo in range(0, len(edges), core.BATCH):
            g.add_edges([{"source": s, "target": t, "edge_type": typ} for s, t, typ in edges[lo:lo + core.BATCH]])
        g.compact()
        ctx["g"] = g
    elif peer == "python":
        knows = [[] for _ in range(n)]
        for s, t, typ in edges:
            if typ == "KNOWS":
                knows[s].append(t)
        ctx["knows"] = knows
    elif peer == "networkx":
        import networkx as nx
        G = nx.MultiDiGraph()
        G.add_nodes_from((i, {"label": labels[i], "id": i, "name": f"n{i}", "age": ages[i]}) for i in range(n))
        G.add_edges_from((s, t, {"type": typ}) for s, t, typ in edges)
        ctx["G"] = G
    return ctx


def ours(name):
    text = STATEMENTS[name]
    if "$id" in text:
        return lambda c: [[list(r.values())[0] for r in c["g"].cypher(text, {"id": a}).records] for a in c["anchors"]]
    return lambda c: [list(r.values())[0] for r in c["g"].cypher(text).records]


# ---------------------------------------------------------------- plain Python

def py_hop2(c, where):
    knows, ages = c["knows"], c["ages"]
    return [[x for b in knows[a] for x in knows[b] if not where or ages[x] > 50] for a in c["anchors"]]


def top10(people, ages):
    return sorted(people, key=lambda i: (-ages[i], i))[:10]


# ---------------------------------------------------------------- networkx

def nx_knows(G, a):
    return [b for b, keyed in G.succ[a].items() for attrs in keyed.values() if attrs["type"] == "KNOWS"]


def nx_point(c):
    G = c["G"]
    return [[G.nodes[a]["name"]] if G.nodes[a]["label"] == "Person" else [] for a in c["anchors"]]


def nx_hop2(c, where):
    G = c["G"]
    return [[x for b in nx_knows(G, a) for x in nx_knows(G, b) if not where or G.nodes[x]["age"] > 50]
            for a in c["anchors"]]


def nx_people(G):
    return [i for i, attrs in G.nodes(data=True) if attrs["label"] == "Person"]


def nx_top10(c):
    G = c["G"]
    return sorted(nx_people(G), key=lambda i: (-G.nodes[i]["age"], i))[:10]


# networkx groups a node's parallel edges by neighbour, so per-anchor rows compare as multisets.
ROWS = Compare("same values per anchor (as multisets)", core.sorted_lists)

TASKS = core.task_table(FAMILY, [
    Task("point", "look up one Person by property, per anchor", ROWS, {
        "ours": ("g.cypher(point, {'id': a})", ours("point")),
        "python": ("index into the name list", lambda c: [[f"n{a}"] if c["labels"][a] == "Person" else []
                                                          for a in c["anchors"]]),
        "networkx": ("G.nodes[a] attributes", nx_point),
    }),
    Task("hop1", "KNOWS neighbours of each anchor", ROWS, {
        "ours": ("g.cypher(hop1, {'id': a})", ours("hop1")),
        "python": ("the anchor's KNOWS list", lambda c: [list(c["knows"][a]) for a in c["anchors"]]),
        "networkx": ("G.succ[a] filtered by type", lambda c: [nx_knows(c["G"], a) for a in c["anchors"]]),
    }),
    Task("hop2", "KNOWS of KNOWS of each anchor", ROWS, {
        "ours": ("g.cypher(hop2, {'id': a})", ours("hop2")),
        "python": ("nested loops over KNOWS lists", lambda c: py_hop2(c, False)),
        "networkx": ("nested loops over G.succ", lambda c: nx_hop2(c, False)),
    }, headline=True),
    Task("hop2 where", "hop2 keeping ages above 50", ROWS, {
        "ours": ("g.cypher(hop2 where, {'id': a})", ours("hop2 where")),
        "python": ("nested loops with the age test", lambda c: py_hop2(c, True)),
        "networkx": ("nested loops with the age test", lambda c: nx_hop2(c, True)),
    }),
    Task("count", "count every Person", Compare("same count"), {
        "ours": ("g.cypher(count)", ours("count")),
        "python": ("len of the Person list", lambda c: [sum(1 for x in c["labels"] if x == "Person")]),
        "networkx": ("scan of G.nodes(data=True)", lambda c: [len(nx_people(c["G"]))]),
    }),
    Task("top10", "the 10 oldest Persons, ties by id", Compare("same ids in order"), {
        "ours": ("g.cypher(top10)", ours("top10")),
        "python": ("sorted() of the Person list", lambda c: top10(c["people"], c["ages"])),
        "networkx": ("sorted() of a node scan", nx_top10),
    }, headline=True),
])
