"""What every benchmark family shares: the task table's shape, the sizes, the seeded graph
every graph family runs on, the answer comparisons and the clock.

A family module (bench_*.py) exposes FAMILY, TASKS and prepare(peer, size). prepare builds
that peer's data, untimed, and returns the context its task functions take; TASKS lists, per
task, how ours and each peer run it and how their answers are compared.
"""
import gc
import hashlib
import json
import math
import os
import random
import statistics
import time
from dataclasses import dataclass, field
from functools import lru_cache
from typing import Any, Callable

# The peers, by the module each one imports; "python" is the standard library alone
# (sqlite3, plain loops), so it is always there.
PEER_MODULES = {"networkx": "networkx", "igraph": "igraph", "rustworkx": "rustworkx",
                "pgmpy": "pgmpy", "pyAgrum": "pyagrum", "python": None}

# medium is the figure we publish: the shared graph has 100K nodes / 1M edges, the size the
# earlier measurements used; large is the largest graph they ran (1M nodes / 5M edges).
# sources: starts of the whole-graph searches (bfs, Dijkstra), which take seconds per start in
# the slowest peer. file_edges and csv_edges: the edges written to a file and read from CSV,
# cut at medium so the whole run keeps within its time (each run writes them afresh).
SIZES = {
    "tiny": dict(nodes=2_000, edges=10_000, starts=10, sources=3, anchors=10, chain=100, grid=8,
                 file_edges=5_000, csv_edges=5_000),
    "small": dict(nodes=20_000, edges=200_000, starts=50, sources=5, anchors=100, chain=1_000, grid=30,
                  file_edges=50_000, csv_edges=100_000),
    "medium": dict(nodes=100_000, edges=1_000_000, starts=100, sources=5, anchors=200, chain=2_000, grid=50,
                   file_edges=250_000, csv_edges=500_000),
    "large": dict(nodes=1_000_000, edges=5_000_000, starts=100, sources=10, anchors=200, chain=10_000, grid=100,
                  file_edges=1_000_000, csv_edges=1_000_000),
}
SEED = 20240601
BATCH = 200_000
LABELS = ["A", "B", "C", "D"]


# ---------------------------------------------------------------- the task table

@dataclass
class Compare:
    """How a peer's answer is checked against ours: canon turns an answer into plain data;
    exact answers are compared by digest, close ones value by value within tol."""
    text: str
    canon: Callable[[Any], Any] = lambda answer: answer
    tol: float | None = None  # None: exact

    def reduce(self, answer):
        value = self.canon(answer)
        if self.tol is None:
            return hashlib.sha256(json.dumps(value, sort_keys=True).encode()).hexdigest()
        return value

    def check(self, ours, theirs):
        """(agrees, note) for two reduced answers."""
        if self.tol is None:
            return ours == theirs, "" if ours == theirs else "answers differ"
        ok_keys, ours_v = _keys_values(ours)
        their_keys, theirs_v = _keys_values(theirs)
        if ok_keys != their_keys or len(ours_v) != len(theirs_v):
            return False, "different keys or lengths"
        worst = max((abs(a - b) for a, b in zip(ours_v, theirs_v)), default=0.0)
        return worst <= self.tol, f"largest difference {worst:.1e}"


def _keys_values(reduced):
    # Close answers are either a list of numbers or [keys, numbers].
    if reduced and isinstance(reduced[0], list):
        return reduced[0], reduced[1]
    return None, reduced


NOT_COMPARED = None


@dataclass
class Task:
    name: str
    what: str
    compare: Compare | None
    impls: dict[str, tuple[str, Callable]]  # peer -> (how it runs, fn(ctx))
    # Runs that consume their input (a fresh graph, a fresh file): fn(ctx) does the untimed
    # setup and returns the callable to time.
    fresh: bool = False
    headline: bool = False
    note: str = ""
    family: str = field(default="")


def task_table(family, tasks):
    for t in tasks:
        t.family = family
    return tasks


# ---------------------------------------------------------------- the clock

def measure(fn, repeat):
    """Runs fn repeat times; returns (walls, cpus, first answer). The first run's answer is
    the one checked, and the caller drops the times of a run whose answer disagrees."""
    walls, cpus, first = [], [], None
    for i in range(repeat):
        gc.collect()
        c0, w0 = time.process_time(), time.perf_counter()
        out = fn()
        walls.append(time.perf_counter() - w0)
        cpus.append(time.process_time() - c0)
        if i == 0:
            first = out
        del out
    return walls, cpus, first


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values)}


# ---------------------------------------------------------------- seeded data

@dataclass
class GraphData:
    """One seeded directed graph: distinct edges, no self-loops, in a random insertion order."""
    n: int
    edges: list
    weights: list
    labels: list
    groups: list
    scores: list
    starts: list
    sources: list
    goals: list


@lru_cache(maxsize=None)
def graph_data(size):
    p = SIZES[size]
    n, m = p["nodes"], p["edges"]
    rng = random.Random(SEED)
    seen, edges = set(), []
    while len(edges) < m:
        s, t = rng.randrange(n), rng.randrange(n)
        if s != t and s * n + t not in seen:
            seen.add(s * n + t)
            edges.append((s, t))
    weights = [rng.uniform(0.01, 1.0) for _ in edges]
    labels = [rng.choice(LABELS) for _ in range(n)]
    groups = [rng.randrange(100) for _ in range(n)]
    scores = [rng.random() for _ in range(n)]
    starts = rng.sample(range(n), p["starts"])
    goals = rng.sample(range(n), p["sources"])
    return GraphData(n, edges, weights, labels, groups, scores, starts, starts[:p["sources"]], goals)


def node_records(d):
    return [{"external_id": f"n{i}", "labels": [d.labels[i]],
             "properties": {"group": d.groups[i], "score": d.scores[i]}} for i in range(d.n)]


@lru_cache(maxsize=None)
def built(peer, size):
    """The shared graph as each peer holds it (one build per worker process); edges carry a
    float "weight". Ours is compacted, as a loaded graph is."""
    d = graph_data(size)
    if peer == "ours":
        import _quillmere
        g = _quillmere.Graph()
        g.add_nodes(node_records(d))
        for lo in range(0, len(d.edges), BATCH):
            g.add_edges([{"source": s, "target": t, "edge_type": "link", "properties": {"weight": w}}
                         for (s, t), w in zip(d.edges[lo:lo + BATCH], d.weights[lo:lo + BATCH])])
        g.compact()
        return g
    if peer == "networkx":
        import networkx as nx
        G = nx.DiGraph()
        G.add_nodes_from((i, {"labels": [d.labels[i]], "group": d.groups[i], "score": d.scores[i]})
                         for i in range(d.n))
        G.add_weighted_edges_from((s, t, w) for (s, t), w in zip(d.edges, d.weights))
        return G
    if peer == "igraph":
        import igraph
        g = igraph.Graph(n=d.n, edges=d.edges, directed=True)
        g.es["weight"] = d.weights
        return g
    if peer == "rustworkx":
        import rustworkx as rx
        g = rx.PyDiGraph(multigraph=False)
        g.add_nodes_from(range(d.n))
        g.add_edges_from([(s, t, w) for (s, t), w in zip(d.edges, d.weights)])
        return g
    if peer == "python":
        # Plain adjacency lists in edge order: what a hand-written loop would walk.
        succ = [[] for _ in range(d.n)]
        pred = [[] for _ in range(d.n)]
        for s, t in d.edges:
            succ[s].append(t)
            pred[t].append(s)
        return succ, pred
    raise ValueError(peer)


# ---------------------------------------------------------------- canonical forms

def sorted_lists(answer):
    return [sorted(x) for x in answer]


def partition(components):
    return sorted(sorted(c) for c in components)


def keyed(mapping):
    keys = sorted(mapping)
    return [keys, [mapping[k] for k in keys]]


def distances(values):
    return [-1.0 if v is None or math.isinf(v) else float(v) for v in values]


# ---------------------------------------------------------------- resident memory

def rss_bytes():
    # Hand freed heap pages back first, so the figure is what is kept, not the high-water
    # mark of the temporary buffers of the call.
    try:
        import ctypes
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass
    try:
        import psutil
        return psutil.Process().memory_info().rss
    except ImportError:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
