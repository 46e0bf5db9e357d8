"""Graph algorithms side by side with networkx, igraph and rustworkx on identical data.

Two seeded directed graphs without parallel edges or self-loops (so every library sees the
same neighbour sets): 100K nodes / 1M edges with a float "weight" on every edge, and
1M nodes / 5M edges. Load time is excluded everywhere. Before a time is printed, the
peer's result is checked against ours where they are comparable: BFS visit sets and depth
order, shortest distances, component partitions, PageRank within 1e-6.

Times are one run each, wall clock (the targets) and process CPU time (steadier on a shared
machine; a peer that runs threads shows more CPU than wall).

Run: PYTHONPATH=build/dev python benchmarks/bench_algorithms.py [--skip-large] [--networkx-large]
"""

import argparse
import gc
import random
import resource
import sys
import time

import _quillmere

try:
    import igraph as ig
except ImportError:  # pragma: no cover - reported in the table
    ig = None
try:
    import rustworkx as rx
except ImportError:  # pragma: no cover
    rx = None
try:
    import networkx as nx
except ImportError:  # pragma: no cover
    nx = None

STARTS = 10
CHUNK = 200_000


def peak_rss_gb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024 / 1024


def make_edges(n, m, seed):
    """m distinct (source, target) pairs, no self-loops, in a seeded random order."""
    rng = random.Random(seed)
    seen = set()
    sources, targets = [], []
    while len(sources) < m:
        s = rng.randrange(n)
        t = rng.randrange(n)
        if s == t:
            continue
        key = s * n + t
        if key in seen:
            continue
        seen.add(key)
        sources.append(s)
        targets.append(t)
    return sources, targets


_last_cpu = [0.0]


def timed(fn):
    """Wall-clock seconds and the result; the CPU seconds are kept for the table."""
    c0 = time.process_time()
    t0 = time.perf_counter()
    out = fn()
    wall = time.perf_counter() - t0
    _last_cpu[0] = time.process_time() - c0
    return wall, out


class Table:
    def __init__(self, title):
        self.title = title
        self.rows = []

    def add(self, op, lib, seconds, note=""):
        self.rows.append((op, lib, seconds, note))
        if seconds is None:
            shown = f"{'skipped':>13} {'':>13}"
        else:
            shown = f"{seconds * 1000:10.1f} ms {_last_cpu[0] * 1000:10.1f} ms"
        print(f"  {op:<28} {lib:<10} {shown}  {note}", flush=True)


# ---------------------------------------------------------------- loading (not timed)


def load_quillmere(n, sources, targets, weights):
    g = _quillmere.Graph()
    for lo in range(0, n, CHUNK):
        g.add_nodes([{} for _ in range(min(CHUNK, n - lo))])
    for lo in range(0, len(sources), CHUNK):
        hi = min(lo + CHUNK, len(sources))
        if weights is None:
            batch = [{"source": sources[i], "target": targets[i], "edge_type": "link"} for i in range(lo, hi)]
        else:
            batch = [{"source": sources[i], "target": targets[i], "edge_type": "link",
                      "properties": {"weight": weights[i]}} for i in range(lo, hi)]
        g.add_edges(batch)
        del batch
    g.compact()
    return g


def load_igraph(n, sources, targets, weights):
    g = ig.Graph(n=n, edges=list(zip(sources, targets)), directed=True)
    if weights is not None:
        g.es["weight"] = weights
    return g


def load_rustworkx(n, sources, targets, weights):
    g = rx.PyDiGraph(multigraph=False)
    g.add_nodes_from(range(n))
    if weights is None:
        g.add_edges_from_no_data(list(zip(sources, targets)))
    else:
        g.add_edges_from(list(zip(sources, targets, weights)))
    return g


def load_networkx(n, sources, targets, weights):
    g = nx.DiGraph()
    g.add_nodes_from(range(n))
    if weights is None:
        g.add_edges_from(zip(sources, targets))
    else:
        g.add_weighted_edges_from(zip(sources, targets, weights))
    return g


# ---------------------------------------------------------------- agreement checks


def check_bfs(ours, peer_order, peer_depth):
    """Same visit set, and our order never steps back to a shallower depth."""
    if set(ours) != set(peer_order) or len(ours) != len(peer_order):
        return False
    last = 0
    for v in ours:
        d = peer_depth[v]
        if d < last:
            return False
        last = d
    return True


def igraph_depths(vids, layers):
    depth = {}
    for d in range(len(layers) - 1):
        for v in vids[layers[d]:layers[d + 1]]:
            depth[v] = d
    return depth


def canonical_partition(components):
    """Each node mapped to the smallest node of its component."""
    label = {}
    for comp in components:
        low = min(comp)
        for v in comp:
            label[v] = low
    return label


def check_partition(ours, peer_components):
    mine = {}
    for comp in ours:
        for v in comp:
            mine[v] = comp[0]  # our components start at their smallest id
    return mine == canonical_partition(peer_components)


def igraph_components(g):
    groups = {}
    for v, c in enumerate(g.connected_components(mode="weak").membership):
        groups.setdefault(c, []).append(v)
    return list(groups.values())


def max_abs_diff(ours, peer):
    return max(abs(ours[v] - peer[v]) for v in range(len(peer)))


# ---------------------------------------------------------------- one graph


def run_graph(title, n, m, seed, weighted, with_networkx):
    print(f"\n== {title}: {n:,} nodes / {m:,} edges ==", flush=True)
    t0 = time.perf_counter()
    sources, targets = make_edges(n, m, seed)
    rng = random.Random(seed + 1)
    weights = [rng.uniform(0.1, 10.0) for _ in range(m)] if weighted else None
    starts = rng.sample(range(n), STARTS)
    goals = rng.sample(range(n), STARTS)
    print(f"  generated in {time.perf_counter() - t0:.1f} s", flush=True)
    table = Table(title)
    print(f"  {'operation':<28} {'library':<10} {'wall':>13} {'cpu':>13}")

    t0 = time.perf_counter()
    q = load_quillmere(n, sources, targets, weights)
    print(f"  quillmere loaded in {time.perf_counter() - t0:.1f} s, peak RSS {peak_rss_gb():.2f} GB", flush=True)

    # ---- ours
    t_bfs, our_bfs = timed(lambda: [q.bfs(s) for s in starts])
    table.add(f"bfs x{STARTS}", "quillmere", t_bfs)
    if weighted:
        t_sp, our_sp = timed(lambda: [q.shortest_path(s, t, weight_property="weight") for s, t in zip(starts, goals)])
        table.add(f"shortest_path weighted x{STARTS}", "quillmere", t_sp)
    t_cc, our_cc = timed(lambda: q.connected_components())
    table.add("connected_components", "quillmere", t_cc)
    t_pr, our_pr = timed(lambda: q.pagerank(iterations=20))
    table.add("pagerank 20 it", "quillmere", t_pr)
    ours = {"bfs": t_bfs, "cc": t_cc, "pr": t_pr}
    if weighted:
        ours["sp"] = t_sp
    del q
    gc.collect()

    peers = {}
    # ---- igraph
    if ig is not None:
        g = load_igraph(n, sources, targets, weights)
        t, res = timed(lambda: [g.bfs(s, mode="out") for s in starts])
        ok = all(check_bfs(o, r[0], igraph_depths(r[0], r[1])) for o, r in zip(our_bfs, res))
        table.add(f"bfs x{STARTS}", "igraph", t, "agrees" if ok else "DISAGREES")
        peers[("igraph", "bfs")] = t
        if weighted:
            t, res = timed(lambda: [g.get_shortest_path(s, to=tt, weights="weight", output="vpath")
                                    for s, tt in zip(starts, goals)])
            dist = [g.distances(s, tt, weights="weight")[0][0] for s, tt in zip(starts, goals)]
            ok = all((o is None and d == float("inf")) or (o is not None and abs(o["distance"] - d) <= 1e-9 * max(1, d))
                     for o, d in zip(our_sp, dist))
            table.add(f"shortest_path weighted x{STARTS}", "igraph", t, "agrees" if ok else "DISAGREES")
            peers[("igraph", "sp")] = t
        t, res = timed(lambda: g.connected_components(mode="weak"))
        ok = check_partition(our_cc, igraph_components(g))
        table.add("connected_components", "igraph", t, "agrees" if ok else "DISAGREES")
        peers[("igraph", "cc")] = t
        t, res = timed(lambda: g.pagerank(damping=0.85, directed=True))
        diff = max_abs_diff(our_pr, res)
        table.add("pagerank (exact solve)", "igraph", t,
                  f"max |diff| {diff:.1e} " + ("agrees" if diff <= 1e-6 else "DISAGREES"))
        peers[("igraph", "pr")] = t
        del g, res
        gc.collect()

    # ---- rustworkx
    if rx is not None:
        g = load_rustworkx(n, sources, targets, weights)
        t, res = timed(lambda: [rx.bfs_layers(g, [s]) for s in starts])
        ok = True
        for o, layers in zip(our_bfs, res):
            depth = {v: d for d, layer in enumerate(layers) for v in layer}
            ok = ok and check_bfs(o, list(depth), depth)
        table.add(f"bfs x{STARTS}", "rustworkx", t, "agrees" if ok else "DISAGREES")
        if weighted:
            t, res = timed(lambda: [rx.digraph_dijkstra_shortest_path_lengths(g, s, float, goal=tt)
                                    for s, tt in zip(starts, goals)])
            ok = all((o is None and tt not in r) or (o is not None and abs(o["distance"] - r[tt]) <= 1e-9 * max(1, r[tt]))
                     for o, r, tt in zip(our_sp, res, goals))
            table.add(f"shortest_path weighted x{STARTS}", "rustworkx", t, "agrees" if ok else "DISAGREES")
        t, res = timed(lambda: rx.weakly_connected_components(g))
        ok = check_partition(our_cc, res)
        table.add("connected_components", "rustworkx", t, "agrees" if ok else "DISAGREES")
        try:
            t, res = timed(lambda: rx.pagerank(g, alpha=0.85, max_iter=100, tol=1e-10))
            diff = max(abs(our_pr[v] - res[v]) for v in range(n))
            table.add("pagerank (tol 1e-10)", "rustworkx", t,
                      f"max |diff| {diff:.1e} " + ("agrees" if diff <= 1e-6 else "DISAGREES"))
        except Exception as exc:  # noqa: BLE001 - a peer failing is reported, not fatal
            table.add("pagerank", "rustworkx", None, f"failed: {exc}")
        del g, res
        gc.collect()

    # ---- networkx
    if nx is not None and with_networkx:
        g = load_networkx(n, sources, targets, weights)
        t, res = timed(lambda: [nx.single_source_shortest_path_length(g, s) for s in starts])
        ok = all(check_bfs(o, list(r), r) for o, r in zip(our_bfs, res))
        table.add(f"bfs x{STARTS}", "networkx", t, "agrees" if ok else "DISAGREES")
        if weighted:
            def nx_sp(s, tt):
                try:
                    return nx.dijkstra_path_length(g, s, tt, weight="weight")
                except nx.NetworkXNoPath:
                    return None
            t, res = timed(lambda: [nx_sp(s, tt) for s, tt in zip(starts, goals)])
            ok = all((o is None and d is None) or (o is not None and d is not None and abs(o["distance"] - d) <= 1e-9 * max(1, d))
                     for o, d in zip(our_sp, res))
            table.add(f"shortest_path weighted x{STARTS}", "networkx", t, "agrees" if ok else "DISAGREES")
        t, res = timed(lambda: list(nx.weakly_connected_components(g)))
        ok = check_partition(our_cc, res)
        table.add("connected_components", "networkx", t, "agrees" if ok else "DISAGREES")
        try:
            t, res = timed(lambda: nx.pagerank(g, alpha=0.85))
            diff = max(abs(our_pr[v] - res[v]) for v in range(n))
            table.add("pagerank", "networkx", t, f"max |diff| {diff:.1e}")
        except ImportError as exc:
            table.add("pagerank", "networkx", None, f"needs {exc.name}")
        del g, res
        gc.collect()
    elif nx is not None:
        table.add("all", "networkx", None, "skipped on this size: its load alone takes minutes and several GB")

    print("  targets vs igraph:")
    goals_met = [
        ("pagerank >= 2x faster", "pr", lambda ours_t, peer_t: ours_t * 2 <= peer_t),
        ("bfs at least as fast", "bfs", lambda ours_t, peer_t: ours_t <= peer_t),
        ("connected_components at least as fast", "cc", lambda ours_t, peer_t: ours_t <= peer_t),
    ]
    if weighted:
        goals_met.append(("weighted shortest_path at least as fast", "sp", lambda a, b: a <= b))
    for label, key, test in goals_met:
        peer_t = peers.get(("igraph", key))
        if peer_t is None:
            continue
        ratio = peer_t / ours[key] if ours[key] > 0 else float("inf")
        print(f"    {label:<42} {'met' if test(ours[key], peer_t) else 'MISSED'} (igraph/ours = {ratio:.2f}x)")
    print(f"  peak RSS so far {peak_rss_gb():.2f} GB", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--skip-large", action="store_true", help="only the 100K-node graph")
    ap.add_argument("--networkx-large", action="store_true", help="also run networkx on the 5M-edge graph")
    args = ap.parse_args()
    print(f"python {sys.version.split()[0]}, igraph {getattr(ig, '__version__', '-')}, "
          f"rustworkx {getattr(rx, '__version__', '-')}, networkx {getattr(nx, '__version__', '-')}")
    run_graph("weighted", 100_000, 1_000_000, 7, weighted=True, with_networkx=True)
    gc.collect()
    if not args.skip_large:
        run_graph("large", 1_000_000, 5_000_000, 11, weighted=False, with_networkx=args.networkx_large)
    print(f"\npeak RSS {peak_rss_gb():.2f} GB")


if __name__ == "__main__":
    main()
