"""Traversal speed side by side with igraph and networkx on identical data.

A seeded directed graph of 100K nodes and 1M distinct edges (no self-loops, each edge with a
float "probability"), then:
  k_hop      2 hops out from 100 fixed starts (igraph: neighborhood(order=2, mindist=1);
             networkx: single_source_shortest_path_length(cutoff=2) minus the start)
  neighbors  out-neighbours of every node
  frontier   the layer at exactly 3 hops from each of the 100 starts
  propagate  3 steps of damped flow from the 100 starts (the peers have no such operation:
             they run the same loop in Python over their own adjacency)
and the time and memory of snapshot(), before and after compact().

Run: PYTHONPATH=build/dev python benchmarks/bench_traversal.py
Needs: pip install networkx igraph psutil
"""

import gc
import random
import sys
import time

import _quillmere

try:
    import igraph
    import networkx as nx
    import psutil
except ImportError as exc:  # pragma: no cover - a script, not a test
    sys.exit(f"missing benchmark peer: {exc.name} (pip install networkx igraph psutil)")

N_NODES = 100_000
N_EDGES = 1_000_000
N_STARTS = 100
SEED = 20240601
DAMPING = 0.85


def make_data():
    rng = random.Random(SEED)
    pairs = set()
    while len(pairs) < N_EDGES:
        s, t = rng.randrange(N_NODES), rng.randrange(N_NODES)
        if s != t:
            pairs.add((s, t))
    edges = sorted(pairs, key=lambda p: (rng.random(), p))  # random insertion order
    weights = [rng.random() for _ in edges]
    starts = rng.sample(range(N_NODES), N_STARTS)
    return edges, weights, starts


def rss():
    gc.collect()
    return psutil.Process().memory_info().rss


def best_of(fn, repeat=3):
    best, result = float("inf"), None
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t0)
    return best, result


def build_ours(edges, weights):
    g = _quillmere.Graph()
    g.add_nodes([{} for _ in range(N_NODES)])
    batch = 100_000
    for i in range(0, len(edges), batch):
        g.add_edges([
            {"source": s, "target": t, "edge_type": "E", "properties": {"probability": w}}
            for (s, t), w in zip(edges[i:i + batch], weights[i:i + batch])
        ])
    return g


def python_propagate(succ, seeds, steps, damping):
    """The flow loop in Python; succ(n) yields (target, weight) in edge order."""
    scores, current = dict(seeds), dict(seeds)
    for _ in range(steps):
        nxt = {}
        for n in sorted(current):
            p = current[n]
            for m, w in succ(n):
                if w != 0.0:
                    nxt[m] = nxt.get(m, 0.0) + damping * (p * w)
        if not nxt:
            break
        for m, v in nxt.items():
            scores[m] = scores.get(m, 0.0) + v
        current = nxt
    return scores


def row(name, seconds, calls, unit="µs/call"):
    print(f"  {name:<34} {seconds * 1e3:9.1f} ms total  {seconds / calls * 1e6:9.2f} {unit}")


def main():
    print(f"data: {N_NODES} nodes, {N_EDGES} edges, {N_STARTS} starts, seed {SEED}")
    edges, weights, starts = make_data()

    base = rss()
    t0 = time.perf_counter()
    g = build_ours(edges, weights)
    print(f"quillmere build: {time.perf_counter() - t0:.2f} s, +{(rss() - base) / 2**20:.0f} MiB")

    t0 = time.perf_counter()
    ig = igraph.Graph(n=N_NODES, edges=edges, directed=True)
    ig.es["probability"] = weights
    print(f"igraph build:    {time.perf_counter() - t0:.2f} s")
    t0 = time.perf_counter()
    nxg = nx.DiGraph()
    nxg.add_nodes_from(range(N_NODES))
    nxg.add_edges_from((s, t, {"probability": w}) for (s, t), w in zip(edges, weights))
    print(f"networkx build:  {time.perf_counter() - t0:.2f} s")

    # ---------------------------------------------------------------- snapshot
    print("\nsnapshot() of the whole graph")
    kept = []  # held, so each figure counts fresh memory rather than reused pages
    for label in ("edges in per-node delta lists", "after compact()"):
        if label == "after compact()":
            t0 = time.perf_counter()
            g.compact()
            print(f"  compact(): {(time.perf_counter() - t0) * 1e3:.0f} ms")
        before = rss()
        t0 = time.perf_counter()
        snap = g.snapshot()
        took = time.perf_counter() - t0
        grew = rss() - before
        print(f"  {label:<34} {took * 1e3:9.1f} ms  +{grew / 2**20:.1f} MiB")
        kept.append(snap)
    del kept, snap

    # Traversals run on the compacted graph; the uncompacted one is measured for k_hop too.
    g_delta = build_ours(edges, weights)

    # ---------------------------------------------------------------- k_hop
    print(f"\nk_hop: 2 hops out from {N_STARTS} starts")
    t_ours, ours = best_of(lambda: [g.k_hop(s, 2) for s in starts])
    t_delta, ours_delta = best_of(lambda: [g_delta.k_hop(s, 2) for s in starts])
    t_ig, theirs_ig = best_of(lambda: [ig.neighborhood(s, order=2, mode="out", mindist=1) for s in starts])
    t_ig_batch, theirs_ig_batch = best_of(
        lambda: ig.neighborhood(starts, order=2, mode="out", mindist=1))
    t_nx, theirs_nx = best_of(lambda: [
        [n for n in nx.single_source_shortest_path_length(nxg, s, cutoff=2) if n != s] for s in starts])
    assert ours == ours_delta
    for a, b, c, d in zip(ours, theirs_ig, theirs_ig_batch, theirs_nx):
        assert set(a) == set(b) == set(c) == set(d) and len(a) == len(set(a))
    print(f"  mean result size {sum(map(len, ours)) / len(ours):.0f} nodes")
    row("quillmere (compacted)", t_ours, N_STARTS)
    row("quillmere (delta lists)", t_delta, N_STARTS)
    row("igraph, one call per start", t_ig, N_STARTS)
    row("igraph, one batched call", t_ig_batch, N_STARTS)
    row("networkx", t_nx, N_STARTS)
    print(f"  ratios: igraph/ours {t_ig / t_ours:.2f}x, networkx/ours {t_nx / t_ours:.1f}x")

    # ---------------------------------------------------------------- neighbors
    print(f"\nneighbors: out-neighbours of all {N_NODES} nodes")
    t_ours, ours = best_of(lambda: [g.neighbors(n) for n in range(N_NODES)], repeat=2)
    t_ig, theirs_ig = best_of(lambda: [ig.neighbors(n, mode="out") for n in range(N_NODES)], repeat=2)
    t_nx, theirs_nx = best_of(lambda: [list(nxg.successors(n)) for n in range(N_NODES)], repeat=2)
    for a, b, c in zip(ours, theirs_ig, theirs_nx):
        assert sorted(a) == sorted(b) == sorted(c)
    row("quillmere", t_ours, N_NODES)
    row("igraph", t_ig, N_NODES)
    row("networkx", t_nx, N_NODES)

    # ---------------------------------------------------------------- frontier
    print(f"\nfrontier: the layer at exactly 3 hops, from each of {N_STARTS} starts")
    t_ours, ours = best_of(lambda: [g.frontier([s], 3) for s in starts])
    t_ig, theirs_ig = best_of(lambda: [ig.neighborhood(s, order=3, mode="out", mindist=3) for s in starts])
    t_nx, theirs_nx = best_of(lambda: [
        [n for n, d in nx.single_source_shortest_path_length(nxg, s, cutoff=3).items() if d == 3]
        for s in starts])
    for a, b, c in zip(ours, theirs_ig, theirs_nx):
        assert set(a) == set(b) == set(c)
    print(f"  mean layer size {sum(map(len, ours)) / len(ours):.0f} nodes")
    row("quillmere", t_ours, N_STARTS)
    row("igraph", t_ig, N_STARTS)
    row("networkx", t_nx, N_STARTS)

    # ---------------------------------------------------------------- propagate
    print(f"\npropagate: 3 steps from {N_STARTS} seeds, weights from \"probability\"")
    seeds = {s: 1.0 for s in starts}
    t_ours, ours = best_of(lambda: g.propagate(seeds, 3, damping=DAMPING), repeat=2)
    inc = ig.get_inclist(mode="out")
    targets = [t for _, t in ig.get_edgelist()]
    probs = ig.es["probability"]
    t_ig, theirs_ig = best_of(lambda: python_propagate(
        lambda n: ((targets[e], probs[e]) for e in sorted(inc[n])), seeds, 3, DAMPING), repeat=2)
    succ = nxg.succ
    t_nx, theirs_nx = best_of(lambda: python_propagate(
        lambda n: ((m, a["probability"]) for m, a in succ[n].items()), seeds, 3, DAMPING), repeat=2)
    assert set(ours) == set(theirs_ig) == set(theirs_nx)
    worst = max(abs(ours[k] - theirs_ig[k]) + abs(ours[k] - theirs_nx[k]) for k in ours)
    print(f"  {len(ours)} scored nodes; largest difference from the peers' loops {worst:.3g}")
    row("quillmere", t_ours, 1, unit="µs/run")
    row("igraph adjacency + Python loop", t_ig, 1, unit="µs/run")
    row("networkx adjacency + Python loop", t_nx, 1, unit="µs/run")


if __name__ == "__main__":
    main()
