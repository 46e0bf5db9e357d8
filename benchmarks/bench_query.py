"""Structured path queries on the shared graph, beside the same questions answered by
hand-written loops over plain adjacency lists and over networkx:
(a) a 2-hop path anchored on one node by external id, (b) a label and property-equality
filtered 1-hop, (c) a 3-hop path with limit 100, (d) a closed triangle anchored on one node.
Our rows are timed as the query returns them (dicts); the loops build tuples."""
import random

from benchmarks import core
from benchmarks.core import Compare, Task

FAMILY = "query"


def prepare(peer, size):
    d = core.graph_data(size)
    rng = random.Random(5)
    anchors = [rng.randrange(d.n) for _ in range(core.SIZES[size]["anchors"])]
    groups = [rng.randrange(100) for _ in range(max(1, len(anchors) // 10))]
    return {"g": core.built(peer, size), "d": d, "anchors": anchors, "groups": groups}


def rows_of(keys, ordered=False):
    """Canonical rows per call: tuples in the keys' order, sorted unless order is the answer."""
    def canon(answer):
        out = []
        for rows in answer:
            rows = [[r[k] for k in keys] if isinstance(r, dict) else list(r) for r in rows]
            out.append(rows if ordered else sorted(rows))
        return out
    return canon


# ---------------------------------------------------------------- ours

def q_two_hop(c):
    return [c["g"].query({"match": [{"node": "a", "external_id": f"n{s}"}, {}, {"node": "b"}, {}, {"node": "c"}]})
            for s in c["anchors"]]


def q_filtered(c):
    return [c["g"].query({"match": [{"node": "a", "labels": ["A"], "properties": {"group": x}}, {}, {"node": "b"}]})
            for x in c["groups"]]


def q_three_hop(c):
    return [c["g"].query({"match": [{"node": "a"}, {}, {"node": "b"}, {}, {"node": "c"}, {}, {"node": "d"}],
                          "limit": 100})]


def q_triangle(c):
    return [c["g"].query({"match": [{"node": "a", "external_id": f"n{s}"}, {}, {"node": "b"}, {}, {"node": "c"},
                                    {}, {"node": "a"}]}) for s in c["anchors"]]


# ---------------------------------------------------------------- loops, over any successor function

def two_hop(succ, anchors):
    return [[(a, b, x) for b in succ(a) for x in succ(b)] for a in anchors]


def three_hop(nodes, succ):
    rows = []
    for a in nodes:
        for b in succ(a):
            for x in succ(b):
                for y in succ(x):
                    rows.append((a, b, x, y))
                    if len(rows) == 100:
                        return [rows]
    return [rows]


def py_filtered(c):
    (succ, _), d = c["g"], c["d"]
    return [[(a, b) for a in range(d.n) if d.labels[a] == "A" and d.groups[a] == x for b in succ[a]]
            for x in c["groups"]]


def py_triangle(c):
    succ, pred = c["g"]
    out = []
    for a in c["anchors"]:
        into_a = set(pred[a])
        out.append([(a, b, x) for b in succ[a] for x in succ[b] if x in into_a])
    return out


def nx_filtered(c):
    G = c["g"]
    return [[(a, b) for a, attrs in G.nodes(data=True) if "A" in attrs["labels"] and attrs["group"] == x
             for b in G.successors(a)] for x in c["groups"]]


def nx_triangle(c):
    G = c["g"]
    return [[(a, b, x) for b in G.successors(a) for x in G.successors(b) if G.has_edge(x, a)] for a in c["anchors"]]


def py_succ(c):
    return c["g"][0].__getitem__


TASKS = core.task_table(FAMILY, [
    Task("(a) 2-hop from external id", "a-b-c paths out of each anchor", Compare("same rows", rows_of("abc")), {
        "ours": ("g.query(match a by external id, two hops)", q_two_hop),
        "python": ("nested loops over adjacency lists", lambda c: two_hop(py_succ(c), c["anchors"])),
        "networkx": ("nested loops over G.successors", lambda c: two_hop(c["g"].successors, c["anchors"])),
    }, headline=True),
    Task("(b) label + property 1-hop", "edges out of the nodes with label A and one group value",
         Compare("same rows", rows_of("ab")), {
             "ours": ("g.query(labels and properties on a)", q_filtered),
             "python": ("scan of every node's label and group, then its successors", py_filtered),
             "networkx": ("scan of G.nodes(data=True), then successors", nx_filtered),
         }),
    # Successors in edge-id order make the first 100 rows the same in every implementation.
    Task("(c) 3-hop, limit 100", "the first 100 a-b-c-d paths", Compare("same rows in order", rows_of("abcd", True)), {
        "ours": ("g.query(three hops, limit 100)", q_three_hop),
        "python": ("nested loops over adjacency lists, stop at 100",
                   lambda c: three_hop(range(c["d"].n), py_succ(c))),
        "networkx": ("nested loops over G.successors, stop at 100",
                     lambda c: three_hop(range(c["d"].n), c["g"].successors)),
    }),
    Task("(d) triangle from external id", "closed a-b-c-a paths through each anchor", Compare("same rows", rows_of("abc")), {
        "ours": ("g.query(a-b-c-a, a by external id)", q_triangle),
        "python": ("loops over adjacency lists, the closing edge from a set", py_triangle),
        "networkx": ("loops over G.successors, closing edge by G.has_edge", nx_triangle),
    }, headline=True),
])
