import os
import threading

import pytest

import _quillmere

# The sanitizer run must exercise the instrumented build, not an installed copy.
_expected = os.environ.get("QUILLMERE_EXPECT_BUILD")
if _expected and not os.path.realpath(_quillmere.__file__).startswith(os.path.realpath(_expected)):
    raise RuntimeError(f"tests imported {_quillmere.__file__}, expected a module from {_expected}")


@pytest.fixture
def q():
    return _quillmere


@pytest.fixture
def g():
    return _quillmere.Graph()


def run_in_thread(fn):
    """Runs fn on another thread; returns (result, exception)."""
    box = {}

    def target():
        try:
            box["result"] = fn()
        except BaseException as exc:  # the panic exception derives from BaseException
            box["error"] = exc

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return box.get("result"), box.get("error")


@pytest.fixture
def db(tmp_path):
    return str(tmp_path / "g.db")


def graph_of(n, edges, path=None):
    """Nodes 0..n-1 and edges (source, target[, type[, properties]]) added in order."""
    g = _quillmere.Graph(path)
    g.add_nodes([{} for _ in range(n)])
    if edges:
        g.add_edges([{"source": e[0], "target": e[1], "edge_type": e[2] if len(e) > 2 else "t",
                      "properties": e[3] if len(e) > 3 else None} for e in edges])
    return g


# ---------------------------------------------------------------- plain references


def ref_neighbors(edges, node, direction="out", edge_type=None):
    """Distinct neighbours in edge order, outgoing side first, from (s, t, type, ...) tuples."""
    found = []
    for outgoing in {"out": (True,), "in": (False,), "both": (True, False)}[direction]:
        for e in edges:
            if edge_type is None or e[2] == edge_type:
                if (e[0] if outgoing else e[1]) == node:
                    found.append(e[1] if outgoing else e[0])
    return list(dict.fromkeys(found))


def power_iteration(n, out, iterations, damping=0.85, tolerance=None):
    """Every state of the rank iteration, sums in ascending node order; the last is the answer."""
    score = [1.0 / n] * n
    states = [tuple(score)]
    for _ in range(iterations):
        dangling = 0.0
        for v in range(n):
            if not out[v]:
                dangling += score[v]
        new = [(1.0 - damping) / n + damping * dangling / n] * n
        for u in range(n):
            if out[u]:
                share = damping * score[u] / len(out[u])
                for w in out[u]:
                    new[w] += share
        change = 0.0
        for v in range(n):
            change += abs(new[v] - score[v])
        score = new
        states.append(tuple(score))
        if tolerance is not None and change <= tolerance:
            break
    return states


MASK = 2**64 - 1


def lcg_next(s):
    return (s * 0x5851F42D4C957F2D + 0x14057B7EF767814F) & MASK


def lcg_walk(adjacency, start, steps, seed):
    """The walk's generator applied to precomputed neighbour lists."""
    s, path = seed, [start]
    for _ in range(steps):
        choices = adjacency[path[-1]]
        if not choices:
            break
        s = lcg_next(s)
        path.append(choices[(s ^ (s >> 33)) % len(choices)])
    return path
